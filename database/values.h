// Values as the database engines hand them over and take them, independent of the
// automation layer: a kind and the value's bits, text as UTF-8, bytes as they are.
// A ValueView refers to storage someone else keeps (a statement's result, a caller's
// array); a Value owns its bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace database {

enum class ValueKind : uint8_t { kNull, kInteger, kReal, kBoolean, kText, kBytes };

struct ValueView {
  ValueKind kind = ValueKind::kNull;
  int64_t integer = 0;  // also a boolean, as 0 or 1
  double real = 0;
  std::span<const uint8_t> bytes;  // text (UTF-8) or bytes

  std::string_view Text() const {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }
  static ValueView Null() { return {}; }
  static ValueView Integer(int64_t value) { return {ValueKind::kInteger, value, 0, {}}; }
  static ValueView Real(double value) { return {ValueKind::kReal, 0, value, {}}; }
  static ValueView Boolean(bool value) { return {ValueKind::kBoolean, value ? 1 : 0, 0, {}}; }
  static ValueView Text(std::string_view text) {
    return {ValueKind::kText, 0, 0, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}};
  }
  static ValueView Bytes(std::span<const uint8_t> bytes) {
    return {ValueKind::kBytes, 0, 0, bytes};
  }
};

struct Value {
  ValueKind kind = ValueKind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::vector<uint8_t> bytes;

  ValueView View() const { return {kind, integer, real, bytes}; }
  static Value Copy(const ValueView& view) {
    return {view.kind, view.integer, view.real, {view.bytes.begin(), view.bytes.end()}};
  }
};

// The type codes of the data types a field reports (its Type), as server-page scripts
// know them from their data-access objects.
enum DataType : int32_t {
  kTypeEmpty = 0,
  kTypeSmallInt = 2,
  kTypeInteger = 3,
  kTypeSingle = 4,
  kTypeDouble = 5,
  kTypeBoolean = 11,
  kTypeVariant = 12,
  kTypeBigInt = 20,
  kTypeGuid = 72,
  kTypeWChar = 130,
  kTypeNumeric = 131,
  kTypeDate = 133,
  kTypeTime = 134,
  kTypeTimeStamp = 135,
  kTypeVarWChar = 202,
  kTypeLongVarWChar = 203,
  kTypeLongVarBinary = 205,
};

// The largest value a field takes or a script binds: 1 GiB, what PostgreSQL stores.
constexpr size_t kMaxValueBytes = size_t{1} << 30;

// The defined size of a value without a length limit (long text, binary objects).
constexpr int32_t kUnboundedSize = 2147483647;

// One column of a result.
struct ColumnInfo {
  std::string name;
  DataType type = kTypeVariant;
  // What a value put into the field becomes; kNull keeps the kind the value has
  // (a column without a declared type, or one the engine converts from text).
  ValueKind kind = ValueKind::kNull;
  int32_t definedSize = kUnboundedSize;
  // Where the column's values come from, for writing them back: the table as it is
  // written in a statement (quoted), and the column's name there. Both are empty for
  // a computed column or when the source was not asked for.
  std::string sourceTable;
  std::string sourceColumn;
  bool key = false;  // one of the columns that identify a row of the source table
};

// An SQL identifier in double quotes, its inner double quotes doubled.
std::string QuoteIdentifier(std::string_view name);

}  // namespace database
