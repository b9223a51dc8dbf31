#include "database/postgres_engine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "database/postgres_pool.h"
#include "database/sql_text.h"

namespace database {

namespace {

// Type identifiers of the built-in types (pg_type.oid), fixed by the server.
enum TypeOid : Oid {
  kBool = 16,
  kBytea = 17,
  kChar = 18,
  kName = 19,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kText = 25,
  kOid = 26,
  kJson = 114,
  kFloat4 = 700,
  kFloat8 = 701,
  kBpchar = 1042,
  kVarchar = 1043,
  kDate = 1082,
  kTime = 1083,
  kTimestamp = 1114,
  kTimestampTz = 1184,
  kTimeTz = 1266,
  kNumeric = 1700,
  kUuid = 2950,
};

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Result Adopt(PGresult* result) { return Result(result, &PQclear); }

// Types whose binary form is read here; a result with any other type comes as text.
bool ReadableInBinary(Oid type) {
  switch (type) {
    case kBool:
    case kBytea:
    case kChar:
    case kName:
    case kInt8:
    case kInt2:
    case kInt4:
    case kText:
    case kOid:
    case kJson:
    case kFloat4:
    case kFloat8:
    case kBpchar:
    case kVarchar:
      return true;
    default:
      return false;
  }
}

// A length limit from a character type's modifier (the limit plus 4), or 0.
int32_t CharacterLimit(int modifier) { return modifier > 4 ? modifier - 4 : 0; }

void DescribeType(Oid type, int modifier, ColumnInfo* column) {
  const auto set = [column](DataType code, ValueKind kind, int32_t size) {
    column->type = code, column->kind = kind, column->definedSize = size;
  };
  switch (type) {
    case kBool:
      return set(kTypeBoolean, ValueKind::kBoolean, 2);
    case kBytea:
      return set(kTypeLongVarBinary, ValueKind::kBytes, kUnboundedSize);
    case kInt2:
      return set(kTypeSmallInt, ValueKind::kInteger, 2);
    case kInt4:
      return set(kTypeInteger, ValueKind::kInteger, 4);
    case kInt8:
    case kOid:
      return set(kTypeBigInt, ValueKind::kInteger, 8);
    case kFloat4:
      return set(kTypeSingle, ValueKind::kReal, 4);
    case kFloat8:
      return set(kTypeDouble, ValueKind::kReal, 8);
    case kNumeric:
      return set(kTypeNumeric, ValueKind::kNull, 19);
    case kDate:
      return set(kTypeDate, ValueKind::kNull, 6);
    case kTime:
    case kTimeTz:
      return set(kTypeTime, ValueKind::kNull, 6);
    case kTimestamp:
    case kTimestampTz:
      return set(kTypeTimeStamp, ValueKind::kNull, 16);
    case kUuid:
      return set(kTypeGuid, ValueKind::kNull, 16);
    case kChar:
      return set(kTypeWChar, ValueKind::kText, 1);
    case kName:
      return set(kTypeVarWChar, ValueKind::kText, 63);
    case kBpchar:
    case kVarchar: {
      const int32_t limit = CharacterLimit(modifier);
      if (limit > 0)
        return set(type == kBpchar ? kTypeWChar : kTypeVarWChar, ValueKind::kText, limit);
      return set(kTypeLongVarWChar, ValueKind::kText, kUnboundedSize);
    }
    case kText:
      return set(kTypeLongVarWChar, ValueKind::kText, kUnboundedSize);
    default:  // read as its text; the server converts a text put back
      return set(kTypeLongVarWChar, ValueKind::kNull, kUnboundedSize);
  }
}

template <typename T>
T BigEndian(const char* data) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>((value << 8) | static_cast<uint8_t>(data[i]));
  }
  return value;
}

std::span<const uint8_t> BytesOf(const char* data, int length) {
  return {reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(length)};
}

class PostgresResult final : public ResultSet {
 public:
  explicit PostgresResult(Result result) : result_(std::move(result)) {
    const int fields = PQnfields(result_.get());
    columns_.resize(static_cast<size_t>(fields));
    for (int i = 0; i < fields; ++i) {
      ColumnInfo& column = columns_[static_cast<size_t>(i)];
      column.name = PQfname(result_.get(), i);
      DescribeType(PQftype(result_.get(), i), PQfmod(result_.get(), i), &column);
    }
    DecodeTextBytea();
  }

  size_t RowCount() const override { return static_cast<size_t>(PQntuples(result_.get())); }

  ValueView Cell(size_t row, size_t column) const override {
    const int r = static_cast<int>(row);
    const int c = static_cast<int>(column);
    PGresult* result = result_.get();
    if (PQgetisnull(result, r, c)) return ValueView::Null();
    const char* data = PQgetvalue(result, r, c);
    const int length = PQgetlength(result, r, c);
    const Oid type = PQftype(result, c);
    if (PQfformat(result, c) == 1) return Binary(type, data, length);
    switch (type) {
      case kBool:
        return ValueView::Boolean(data[0] == 't');
      case kInt2:
      case kInt4:
      case kInt8:
      case kOid:
        return ValueView::Integer(std::strtoll(data, nullptr, 10));
      case kFloat4:
      case kFloat8:
      case kNumeric:
        return ValueView::Real(std::strtod(data, nullptr));
      case kBytea: {
        const Unescaped& bytes = unescaped_[row * columns_.size() + column];
        return ValueView::Bytes({bytes.data.get(), bytes.size});
      }
      default:
        return ValueView::Text({data, static_cast<size_t>(length)});
    }
  }

  PGresult* Raw() const { return result_.get(); }
  ColumnInfo& Column(size_t index) { return columns_[index]; }

 private:
  struct Unescaped {
    std::unique_ptr<uint8_t, decltype(&PQfreemem)> data{nullptr, &PQfreemem};
    size_t size = 0;
  };

  static ValueView Binary(Oid type, const char* data, int length) {
    switch (type) {
      case kBool:
        return ValueView::Boolean(data[0] != 0);
      case kInt2:
        return ValueView::Integer(static_cast<int16_t>(BigEndian<uint16_t>(data)));
      case kInt4:
        return ValueView::Integer(static_cast<int32_t>(BigEndian<uint32_t>(data)));
      case kOid:
        return ValueView::Integer(BigEndian<uint32_t>(data));
      case kInt8:
        return ValueView::Integer(static_cast<int64_t>(BigEndian<uint64_t>(data)));
      case kFloat4: {
        const uint32_t bits = BigEndian<uint32_t>(data);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return ValueView::Real(value);
      }
      case kFloat8: {
        const uint64_t bits = BigEndian<uint64_t>(data);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return ValueView::Real(value);
      }
      case kBytea:
        return ValueView::Bytes(BytesOf(data, length));
      default:  // the texts: their binary form is the text
        return ValueView::Text({data, static_cast<size_t>(length)});
    }
  }

  // bytea that came as text ("\x4142...") is decoded once, when the result arrives.
  void DecodeTextBytea() {
    PGresult* result = result_.get();
    std::vector<int> columns;
    for (int c = 0; c < PQnfields(result); ++c) {
      if (PQftype(result, c) == kBytea && PQfformat(result, c) == 0) columns.push_back(c);
    }
    if (columns.empty()) return;
    unescaped_.resize(RowCount() * columns_.size());
    for (int r = 0; r < PQntuples(result); ++r) {
      for (const int c : columns) {
        if (PQgetisnull(result, r, c)) continue;
        Unescaped& cell = unescaped_[static_cast<size_t>(r) * columns_.size() + c];
        cell.data.reset(PQunescapeBytea(
            reinterpret_cast<const unsigned char*>(PQgetvalue(result, r, c)), &cell.size));
        if (cell.data == nullptr) throw std::bad_alloc();
      }
    }
  }

  Result result_;
  std::vector<Unescaped> unescaped_;  // by row and column, for bytea read as text
};

// The text form of a value bound as text.
std::string TextOf(const ValueView& value) {
  switch (value.kind) {
    case ValueKind::kInteger:
      return std::to_string(value.integer);
    case ValueKind::kBoolean:
      return value.integer != 0 ? "true" : "false";
    case ValueKind::kReal: {
      if (std::isnan(value.real)) return "NaN";
      if (std::isinf(value.real)) return value.real > 0 ? "Infinity" : "-Infinity";
      char text[32];
      const auto end = std::to_chars(text, text + sizeof text, value.real).ptr;
      return {text, end};
    }
    default:
      return std::string(value.Text());
  }
}

// The values of one statement as libpq takes them: pointers, lengths and formats.
// Bytes go in binary form where they lie; every other value as a text of its own,
// since libpq reads a text parameter up to its terminating NUL.
class BoundValues {
 public:
  explicit BoundValues(const std::vector<ValueView>& values) {
    texts_.reserve(values.size());
    for (const ValueView& value : values) {
      const bool bytes = value.kind == ValueKind::kBytes;
      types_.push_back(bytes ? Oid{kBytea} : Oid{0});  // 0: the server infers the type
      formats_.push_back(bytes ? 1 : 0);
      if (value.kind == ValueKind::kNull) {
        pointers_.push_back(nullptr);
        lengths_.push_back(0);
      } else if (bytes) {
        pointers_.push_back(reinterpret_cast<const char*>(value.bytes.data()));
        lengths_.push_back(static_cast<int>(value.bytes.size()));
      } else {
        texts_.push_back(TextOf(value));
        pointers_.push_back(texts_.back().c_str());
        lengths_.push_back(static_cast<int>(texts_.back().size()));
      }
    }
  }
  int Count() const { return static_cast<int>(types_.size()); }
  const Oid* Types() const { return types_.data(); }
  const char* const* Pointers() const { return pointers_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  std::vector<std::string> texts_;  // reserved up front: pointers into it stay valid
  std::vector<Oid> types_;
  std::vector<const char*> pointers_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
};

class PostgresSession final : public Session {
 public:
  PostgresSession(PGconn* connection, std::string connectionString, std::string user,
                  std::string password)
      : connection_(connection),
        connectionString_(std::move(connectionString)),
        user_(std::move(user)),
        password_(std::move(password)) {}
  ~PostgresSession() override {
    PostgresPool::Instance().Give(connectionString_, user_, password_, connection_);
  }

  Engine Kind() const override { return Engine::kPostgres; }
  std::string Placeholder(int number) const override { return "$" + std::to_string(number); }
  const char* BeginStatement() const override { return "BEGIN"; }

  // COMMIT of a transaction in which a statement failed only rolls it back.
  bool Commit(std::string* error) override {
    if (PQtransactionStatus(connection_) == PQTRANS_INERROR) {
      Outcome ignored;
      Execute("ROLLBACK", {}, false, &ignored, error);
      *error = "the transaction was rolled back: a statement in it failed";
      return false;
    }
    return Session::Commit(error);
  }

  bool Execute(std::string_view sql, const Parameters& parameters, bool describeSources,
               Outcome* outcome, std::string* error) override {
    *outcome = {};
    const Placeholders style = parameters.Named()          ? Placeholders::kNames
                               : parameters.values.empty() ? Placeholders::kAsWritten
                                                           : Placeholders::kQuestionMarks;
    const TranslatedSql translated = TranslatePlaceholders(sql, style);
    if (translated.statements == 0) {
      *error = "the text holds no statement";
      return false;
    }
    if (translated.statements > 1) {
      if (!parameters.values.empty()) {
        *error = "values are bound to one statement, and the text holds more than one";
        return false;
      }
      return RunScript(std::string(sql), outcome, error);
    }
    std::vector<ValueView> values;
    if (!Arrange(parameters, translated.names, &values, error)) return false;
    for (const ValueView& value : values) {
      if (value.bytes.size() > kMaxValueBytes) {
        *error = "a value of more than 1 GiB cannot be sent";
        return false;
      }
      if (value.kind == ValueKind::kText && value.Text().find('\0') != std::string_view::npos) {
        *error = "PostgreSQL stores no text holding a NUL character";
        return false;
      }
    }
    return RunPrepared(translated.text, BoundValues(values), describeSources, outcome, error);
  }

 private:
  bool Fail(const PGresult* result, std::string* error) const {
    const char* primary =
        result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    *error = primary != nullptr ? primary : TrimmedMessage(PQerrorMessage(connection_));
    if (const char* detail =
            result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr) {
      *error += std::string(" (") + detail + ")";
    }
    if (error->empty()) *error = "the server did not answer";
    return false;
  }

  // The values in the order of the statement's numbered placeholders.
  static bool Arrange(const Parameters& parameters, const std::vector<std::string>& names,
                      std::vector<ValueView>* values, std::string* error) {
    if (!parameters.Named()) {
      *values = parameters.values;
      return true;
    }
    std::vector<bool> used(parameters.names.size());
    for (const std::string& name : names) {
      const auto found = std::find(parameters.names.begin(), parameters.names.end(), name);
      if (found == parameters.names.end()) {
        *error = "no value was given for the parameter :" + name;
        return false;
      }
      const auto k = static_cast<size_t>(found - parameters.names.begin());
      used[k] = true;
      values->push_back(parameters.values[k]);
    }
    const auto unused = std::find(used.begin(), used.end(), false);
    if (unused != used.end()) {
      *error = "the statement has no parameter named " +
               parameters.names[static_cast<size_t>(unused - used.begin())];
      return false;
    }
    return true;
  }

  bool RunPrepared(const std::string& sql, const BoundValues& values, bool describeSources,
                   Outcome* outcome, std::string* error) {
    const Result prepared =
        Adopt(PQprepare(connection_, "", sql.c_str(), values.Count(), values.Types()));
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) return Fail(prepared.get(), error);
    const Result description = Adopt(PQdescribePrepared(connection_, ""));
    if (PQresultStatus(description.get()) != PGRES_COMMAND_OK) {
      return Fail(description.get(), error);
    }
    if (PQnparams(description.get()) != values.Count()) {
      *error = "the statement has " + std::to_string(PQnparams(description.get())) +
               " parameters and " + std::to_string(values.Count()) + " values were given";
      return false;
    }
    bool binary = true;
    for (int i = 0; i < PQnfields(description.get()); ++i) {
      binary = binary && ReadableInBinary(PQftype(description.get(), i));
    }
    Result result = Adopt(PQexecPrepared(connection_, "", values.Count(), values.Pointers(),
                                         values.Lengths(), values.Formats(), binary ? 1 : 0));
    return TakeResult(std::move(result), describeSources, outcome, error);
  }

  bool TakeResult(Result result, bool describeSources, Outcome* outcome, std::string* error) {
    switch (PQresultStatus(result.get())) {
      case PGRES_TUPLES_OK: {
        auto rows = std::make_shared<PostgresResult>(std::move(result));
        if (describeSources && !DescribeSources(*rows, error)) return false;
        outcome->rows = std::move(rows);
        return true;
      }
      case PGRES_COMMAND_OK:
        outcome->rows.reset();
        outcome->changed += std::strtoll(PQcmdTuples(result.get()), nullptr, 10);
        return true;
      default:
        return Fail(result.get(), error);
    }
  }

  // Several statements without values, in one exchange; the rows are those of the last.
  bool RunScript(const std::string& sql, Outcome* outcome, std::string* error) {
    if (!PQsendQuery(connection_, sql.c_str())) return Fail(nullptr, error);
    bool ok = true;
    while (PGresult* next = PQgetResult(connection_)) {
      Result result = Adopt(next);
      if (ok) ok = TakeResult(std::move(result), false, outcome, error);
    }
    return ok;
  }

  // The source table and column of each column that comes straight from a table, and
  // the key: the table's primary key, when the result holds all of its columns.
  bool DescribeSources(PostgresResult& rows, std::string* error) {
    std::map<Oid, std::vector<int>> byTable;
    for (int i = 0; i < PQnfields(rows.Raw()); ++i) {
      if (PQftable(rows.Raw(), i) != InvalidOid) byTable[PQftable(rows.Raw(), i)].push_back(i);
    }
    for (const auto& [table, columns] : byTable) {
      if (!DescribeTable(rows, table, columns, error)) return false;
    }
    return true;
  }

  bool DescribeTable(PostgresResult& rows, Oid table, const std::vector<int>& columns,
                     std::string* error) {
    static constexpr char kCatalogQuery[] =
        "SELECT format('%I.%I', n.nspname, c.relname), a.attnum, a.attname,"
        " coalesce(a.attnum = ANY(i.indkey), false)"
        " FROM pg_catalog.pg_class c"
        " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
        " JOIN pg_catalog.pg_attribute a"
        "   ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped"
        " LEFT JOIN pg_catalog.pg_index i ON i.indrelid = c.oid AND i.indisprimary"
        " WHERE c.oid = $1";
    const std::string oid = std::to_string(table);
    const char* values[] = {oid.c_str()};
    const Result catalog =
        Adopt(PQexecParams(connection_, kCatalogQuery, 1, nullptr, values, nullptr, nullptr, 0));
    if (PQresultStatus(catalog.get()) != PGRES_TUPLES_OK) return Fail(catalog.get(), error);
    struct Attribute {
      std::string name;
      bool key = false;
    };
    std::map<int, Attribute> attributes;
    std::string qualifiedName;
    for (int r = 0; r < PQntuples(catalog.get()); ++r) {
      qualifiedName = PQgetvalue(catalog.get(), r, 0);
      attributes[std::atoi(PQgetvalue(catalog.get(), r, 1))] = {
          PQgetvalue(catalog.get(), r, 2), PQgetvalue(catalog.get(), r, 3)[0] == 't'};
    }
    size_t keysInTable = 0;
    for (const auto& [number, attribute] : attributes) keysInTable += attribute.key ? 1 : 0;
    std::set<int> keysPresent;
    for (const int c : columns) {
      const int number = PQftablecol(rows.Raw(), c);
      const auto found = attributes.find(number);
      if (found == attributes.end()) continue;
      ColumnInfo& info = rows.Column(static_cast<size_t>(c));
      info.sourceTable = qualifiedName;
      info.sourceColumn = found->second.name;
      info.key = found->second.key;
      if (info.key) keysPresent.insert(number);
    }
    if (keysPresent.size() < keysInTable || keysInTable == 0) {
      for (const int c : columns) rows.Column(static_cast<size_t>(c)).key = false;
    }
    return true;
  }

  PGconn* connection_;
  std::string connectionString_;
  std::string user_;
  std::string password_;
};

}  // namespace

std::unique_ptr<Session> OpenPostgresSession(const std::string& connectionString,
                                             const std::string& user, const std::string& password,
                                             std::string* error) {
  PGconn* connection = PostgresPool::Instance().Take(connectionString, user, password, error);
  if (connection == nullptr) return nullptr;
  return std::make_unique<PostgresSession>(connection, connectionString, user, password);
}

}  // namespace database
