#include "database/sqlite_engine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "database/sql_text.h"
#include "database/sqlite_open.h"

namespace database {

namespace {

// How long a statement waits for other connections' writes to end: long enough for a
// queue of pages writing images one after another.
constexpr int kWaitMs = 30000;

// Rows copied out of a statement as it steps, since its own values last only until
// the next step.
class SqliteResult final : public ResultSet {
 public:
  explicit SqliteResult(std::vector<ColumnInfo> columns) { columns_ = std::move(columns); }
  size_t RowCount() const override { return cells_.size() / columns_.size(); }
  ValueView Cell(size_t row, size_t column) const override {
    return cells_[row * columns_.size() + column].View();
  }
  void AppendRow(sqlite3_stmt* statement) {
    for (size_t i = 0; i < columns_.size(); ++i) cells_.push_back(ReadCell(statement, i));
  }

 private:
  static Value ReadCell(sqlite3_stmt* statement, size_t index) {
    const int column = static_cast<int>(index);
    Value cell;
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_INTEGER:
        cell.kind = ValueKind::kInteger;
        cell.integer = sqlite3_column_int64(statement, column);
        break;
      case SQLITE_FLOAT:
        cell.kind = ValueKind::kReal;
        cell.real = sqlite3_column_double(statement, column);
        break;
      case SQLITE_TEXT:
      case SQLITE_BLOB: {
        const bool text = sqlite3_column_type(statement, column) == SQLITE_TEXT;
        const auto* data = static_cast<const uint8_t*>(
            text ? static_cast<const void*>(sqlite3_column_text(statement, column))
                 : sqlite3_column_blob(statement, column));
        const int size = sqlite3_column_bytes(statement, column);
        cell.kind = text ? ValueKind::kText : ValueKind::kBytes;
        if (data != nullptr) cell.bytes.assign(data, data + size);
        break;
      }
      default:
        break;
    }
    return cell;
  }

  std::vector<Value> cells_;
};

std::string Upper(const char* text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The first number in parentheses of a declared type ("VARCHAR(40)"), or 0.
int32_t DeclaredLength(const std::string& declared) {
  const size_t open = declared.find('(');
  if (open == std::string::npos) return 0;
  const long length = std::strtol(declared.c_str() + open + 1, nullptr, 10);
  return length > 0 && length < kUnboundedSize ? static_cast<int32_t>(length) : 0;
}

// The type, kind and size a column's declared type gives it, by SQLite's affinity
// rules; BYTEA counts as a binary type so that one schema serves both engines.
void DescribeDeclaredType(const char* declared, ColumnInfo* column) {
  if (declared == nullptr || *declared == '\0') return;  // a variant
  const std::string type = Upper(declared);
  const auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
  if (has("INT")) {
    column->type = kTypeBigInt, column->kind = ValueKind::kInteger, column->definedSize = 8;
  } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
    column->kind = ValueKind::kText;
    const int32_t length = DeclaredLength(type);
    column->type = length > 0 ? kTypeVarWChar : kTypeLongVarWChar;
    column->definedSize = length > 0 ? length : kUnboundedSize;
  } else if (has("BLOB") || has("BYTEA")) {
    column->type = kTypeLongVarBinary, column->kind = ValueKind::kBytes;
  } else if (has("REAL") || has("FLOA") || has("DOUB")) {
    column->type = kTypeDouble, column->kind = ValueKind::kReal, column->definedSize = 8;
  } else if (has("BOOL")) {
    column->type = kTypeBoolean, column->kind = ValueKind::kBoolean, column->definedSize = 2;
  } else if (has("TIMESTAMP") || has("DATETIME")) {
    column->type = kTypeTimeStamp, column->definedSize = 16;
  } else if (has("DATE")) {
    column->type = kTypeDate, column->definedSize = 6;
  } else if (has("TIME")) {
    column->type = kTypeTime, column->definedSize = 6;
  } else if (has("DEC") || has("NUM")) {
    column->type = kTypeNumeric, column->definedSize = 19;
  }
}

bool IsRowidName(const char* name) {
  const std::string upper = Upper(name);
  return upper == "ROWID" || upper == "OID" || upper == "_ROWID_";
}

class SqliteSession final : public Session {
 public:
  explicit SqliteSession(sqlite3* db) : db_(db) {}
  ~SqliteSession() override { sqlite3_close_v2(db_); }

  Engine Kind() const override { return Engine::kSqlite; }
  std::string Placeholder(int number) const override { return "?" + std::to_string(number); }
  const char* BeginStatement() const override { return "BEGIN IMMEDIATE"; }

  bool Execute(std::string_view sql, const Parameters& parameters, bool describeSources,
               Outcome* outcome, std::string* error) override {
    const int64_t before = sqlite3_total_changes64(db_);
    const bool bound = !parameters.values.empty();
    *outcome = {};
    bool ran = false;
    while (true) {
      const char* tail = nullptr;
      const SqliteStatement statement(db_, sql, &tail);
      if (!statement) {
        if (sqlite3_errcode(db_) != SQLITE_OK) return Fail(error);
        break;  // only blanks or comments were left
      }
      sql.remove_prefix(static_cast<size_t>(tail - sql.data()));
      if (bound && TranslatePlaceholders(sql, Placeholders::kAsWritten).statements > 0) {
        *error = "values are bound to one statement, and the text holds more than one";
        return false;
      }
      if (!Bind(statement.Get(), parameters, error) ||
          !Run(statement.Get(), describeSources, outcome, error)) {
        return false;
      }
      ran = true;
    }
    if (!ran) {
      *error = "the text holds no statement";
      return false;
    }
    if (!outcome->rows) outcome->changed = sqlite3_total_changes64(db_) - before;
    return true;
  }

 private:
  bool Fail(std::string* error) const {
    *error = sqlite3_errmsg(db_);
    return false;
  }

  static int BindOne(sqlite3_stmt* statement, int index, const ValueView& value) {
    static const uint8_t kNothing = 0;  // a zero-length blob still needs a pointer
    switch (value.kind) {
      case ValueKind::kNull:
        return sqlite3_bind_null(statement, index);
      case ValueKind::kInteger:
      case ValueKind::kBoolean:
        return sqlite3_bind_int64(statement, index, value.integer);
      case ValueKind::kReal:
        return sqlite3_bind_double(statement, index, value.real);
      case ValueKind::kText:
        return sqlite3_bind_text64(statement, index, value.Text().data(), value.bytes.size(),
                                   SQLITE_STATIC, SQLITE_UTF8);
      case ValueKind::kBytes:
        return sqlite3_bind_blob64(statement, index,
                                   value.bytes.empty() ? &kNothing : value.bytes.data(),
                                   value.bytes.size(), SQLITE_STATIC);
    }
    return SQLITE_MISUSE;
  }

  bool Bind(sqlite3_stmt* statement, const Parameters& parameters, std::string* error) const {
    const int count = sqlite3_bind_parameter_count(statement);
    if (!parameters.Named()) {
      if (static_cast<size_t>(count) != parameters.values.size()) {
        *error = "the statement has " + std::to_string(count) + " parameters and " +
                 std::to_string(parameters.values.size()) + " values were given";
        return false;
      }
      for (int i = 0; i < count; ++i) {
        if (BindOne(statement, i + 1, parameters.values[static_cast<size_t>(i)]) != SQLITE_OK) {
          return Fail(error);
        }
      }
      return true;
    }
    std::vector<bool> used(parameters.names.size());
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(statement, i);
      if (name == nullptr || name[0] == '?') {
        *error = "the statement has a positional parameter and the values are named";
        return false;
      }
      const auto found =
          std::find(parameters.names.begin(), parameters.names.end(), std::string_view(name + 1));
      if (found == parameters.names.end()) {
        *error = std::string("no value was given for the parameter ") + name;
        return false;
      }
      const auto k = static_cast<size_t>(found - parameters.names.begin());
      used[k] = true;
      if (BindOne(statement, i, parameters.values[k]) != SQLITE_OK) return Fail(error);
    }
    const auto unused = std::find(used.begin(), used.end(), false);
    if (unused != used.end()) {
      *error = "the statement has no parameter named " +
               parameters.names[static_cast<size_t>(unused - used.begin())];
      return false;
    }
    return true;
  }

  bool Run(sqlite3_stmt* statement, bool describeSources, Outcome* outcome,
           std::string* error) const {
    const int columns = sqlite3_column_count(statement);
    if (columns == 0) {
      outcome->rows.reset();
      int rc = SQLITE_ROW;
      while (rc == SQLITE_ROW) rc = sqlite3_step(statement);
      return rc == SQLITE_DONE || Fail(error);
    }
    auto rows = std::make_shared<SqliteResult>(DescribeColumns(statement, describeSources));
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) rows->AppendRow(statement);
    if (rc != SQLITE_DONE) return Fail(error);
    outcome->rows = std::move(rows);
    return true;
  }

  std::vector<ColumnInfo> DescribeColumns(sqlite3_stmt* statement, bool describeSources) const {
    std::vector<ColumnInfo> columns(static_cast<size_t>(sqlite3_column_count(statement)));
    for (size_t i = 0; i < columns.size(); ++i) {
      const int column = static_cast<int>(i);
      const char* name = sqlite3_column_name(statement, column);
      columns[i].name = name != nullptr ? name : "";
      DescribeDeclaredType(sqlite3_column_decltype(statement, column), &columns[i]);
    }
    if (describeSources) DescribeSources(statement, columns);
    return columns;
  }

  // The source of each column, and the key: the table's primary key when the result
  // holds all of its columns, else its rowid when the result holds that.
  void DescribeSources(sqlite3_stmt* statement, std::vector<ColumnInfo>& columns) const {
    const char* schema = nullptr;
    const char* table = nullptr;
    int rowidColumn = -1;
    for (size_t i = 0; i < columns.size(); ++i) {
      const int column = static_cast<int>(i);
      const char* origin = sqlite3_column_origin_name(statement, column);
      if (origin == nullptr) continue;
      schema = sqlite3_column_database_name(statement, column);
      table = sqlite3_column_table_name(statement, column);
      columns[i].sourceTable = QuoteIdentifier(schema) + "." + QuoteIdentifier(table);
      columns[i].sourceColumn = origin;
      if (IsRowidName(origin)) rowidColumn = column;
    }
    if (table == nullptr) return;
    const std::vector<std::string> keyNames = PrimaryKeyColumns(schema, table);
    const auto present = [&columns](const std::string& name) {
      return std::any_of(columns.begin(), columns.end(),
                         [&name](const ColumnInfo& c) { return c.sourceColumn == name; });
    };
    if (!keyNames.empty() && std::all_of(keyNames.begin(), keyNames.end(), present)) {
      for (ColumnInfo& column : columns) {
        column.key =
            std::find(keyNames.begin(), keyNames.end(), column.sourceColumn) != keyNames.end();
      }
    } else if (rowidColumn >= 0) {
      columns[static_cast<size_t>(rowidColumn)].key = true;
    }
  }

  std::vector<std::string> PrimaryKeyColumns(const char* schema, const char* table) const {
    std::vector<std::string> names;
    const SqliteStatement query(db_, "SELECT name FROM pragma_table_info(?1, ?2) WHERE pk > 0");
    if (!query) return names;
    sqlite3_bind_text(query.Get(), 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_text(query.Get(), 2, schema, -1, SQLITE_STATIC);
    while (sqlite3_step(query.Get()) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query.Get(), 0)));
    }
    return names;
  }

  sqlite3* db_;
};

}  // namespace

std::unique_ptr<Session> OpenSqliteSession(const std::string& path, std::string* error) {
  sqlite3* db = OpenSqliteFile(path, kWaitMs, error);
  if (db == nullptr) return nullptr;
  auto session = std::make_unique<SqliteSession>(db);
  // Readers never wait for a writer in write-ahead-log mode (a memory database keeps
  // its own mode); foreign keys hold as they do on the other engine.
  Outcome ignored;
  if (!session->Execute("PRAGMA journal_mode = WAL; PRAGMA foreign_keys = ON", {}, false, &ignored,
                        error)) {
    return nullptr;
  }
  return session;
}

}  // namespace database
