#include "database/sqlite_store.h"

#include <sys/stat.h>

#include <cstring>
#include <utility>

#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"

namespace database {

namespace {

constexpr char kClosed[] = "the database is closed";
// How long a statement waits for another connection's write to end.
constexpr int kBusyTimeoutMs = 5000;

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* Get() const { return statement_; }
  explicit operator bool() const { return statement_ != nullptr; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string SelectSql(const std::string& table, const std::string& column) {
  return "SELECT " + QuoteIdentifier(column) + " FROM " + QuoteIdentifier(table) +
         " WHERE rowid = ?1";
}

std::string UpdateSql(const std::string& table, const std::string& column) {
  return "UPDATE " + QuoteIdentifier(table) + " SET " + QuoteIdentifier(column) +
         " = ?2 WHERE rowid = ?1";
}

std::string NoRowText(const std::string& table, int64_t rowid) {
  return "no row with rowid " + std::to_string(rowid) + " in table " + table;
}

// Names SQLite takes for databases that are no file.
bool NamesNoFile(const char* name) { return name[0] == '\0' || std::strcmp(name, ":memory:") == 0; }

// Every database file a connection opens (Open, ATTACH, VACUUM INTO) goes through the
// platform's file access: inside the allowed folders (where a URI name, which could
// carry its own options, is refused), and a regular file when it exists, since SQLite
// would wait forever on a pipe. Gives the name to open, or the reason for refusing.
bool CheckDatabaseFile(const char* path, std::string* name, std::string* refusal) {
  if (NamesNoFile(path)) {
    *name = path;
    return true;
  }
  const bool restricted = !policy::AllowedFolders().empty();
  const DWORD error = std::strncmp(path, "file:", 5) == 0 && restricted
                          ? policy::kOutsideAllowedFolders
                          : policy::ResolveAllowedPath(path, name);
  if (error == policy::kOutsideAllowedFolders) {
    *refusal = std::string(path) + " is outside the folders this server may open files in";
    return false;
  }
  if (error != NO_ERROR) {
    *refusal = std::string(path) + ": " + std::strerror(static_cast<int>(error));
    return false;
  }
  struct stat status {};
  if (stat(name->c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    *refusal = std::string(path) + " is not a regular file";
    return false;
  }
  return true;
}

// Refuses an ATTACH (also the one VACUUM INTO makes) of a file CheckDatabaseFile refuses,
// and, inside allowed folders, one whose name is computed (SQLite cannot show it here).
int AuthorizeAttach(void*, int action, const char* file, const char*, const char*, const char*) {
  if (action != SQLITE_ATTACH) return SQLITE_OK;
  if (file == nullptr) return policy::AllowedFolders().empty() ? SQLITE_OK : SQLITE_DENY;
  std::string name;
  std::string refusal;
  return CheckDatabaseFile(file, &name, &refusal) ? SQLITE_OK : SQLITE_DENY;
}

}  // namespace

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::shared_ptr<Connection> Connection::Open(const std::string& path, StoreError* error) {
  std::string name;
  if (!CheckDatabaseFile(path.c_str(), &name, &error->message)) return nullptr;
  sqlite3* handle = nullptr;
  const int rc =
      sqlite3_open_v2(name.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    error->message = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    sqlite3_close_v2(handle);
    return nullptr;
  }
  sqlite3_busy_timeout(handle, kBusyTimeoutMs);
  // A double-quoted name that matches no column must not be read as a text literal.
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_set_authorizer(handle, AuthorizeAttach, nullptr);
  return std::shared_ptr<Connection>(new Connection(handle));
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (handle_ != nullptr) sqlite3_close_v2(std::exchange(handle_, nullptr));
}

bool Connection::Fail(StoreError* error, std::string message) const {
  error->message = std::move(message);
  return false;
}

bool Connection::FailWithSqlite(StoreError* error) const {
  return Fail(error, sqlite3_errmsg(handle_));
}

bool Connection::Run(const char* sql, StoreError* error) {
  return sqlite3_exec(handle_, sql, nullptr, nullptr, nullptr) == SQLITE_OK ||
         FailWithSqlite(error);
}

std::optional<int64_t> Connection::Execute(const std::string& sql, StoreError* error) {
  if (!IsOpen()) {
    Fail(error, kClosed);
    return std::nullopt;
  }
  const int64_t before = sqlite3_total_changes64(handle_);
  char* message = nullptr;
  if (sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    Fail(error, message != nullptr ? message : sqlite3_errmsg(handle_));
    sqlite3_free(message);
    return std::nullopt;
  }
  return sqlite3_total_changes64(handle_) - before;
}

int64_t Connection::LastInsertRowId() const {
  return IsOpen() ? sqlite3_last_insert_rowid(handle_) : 0;
}

bool Connection::ReadValue(const std::string& table, const std::string& column, int64_t rowid,
                           std::optional<std::vector<uint8_t>>* value, StoreError* error) {
  if (!IsOpen()) return Fail(error, kClosed);
  const Statement select(handle_, SelectSql(table, column));
  if (!select) return FailWithSqlite(error);
  sqlite3_bind_int64(select.Get(), 1, rowid);
  const int rc = sqlite3_step(select.Get());
  if (rc == SQLITE_DONE) return Fail(error, NoRowText(table, rowid));
  if (rc != SQLITE_ROW) return FailWithSqlite(error);
  if (sqlite3_column_type(select.Get(), 0) == SQLITE_NULL) {
    value->reset();
    return true;
  }
  // Text and numbers are read as the bytes SQLite stores for them.
  const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(select.Get(), 0));
  const int size = sqlite3_column_bytes(select.Get(), 0);
  if (bytes == nullptr && size > 0) return FailWithSqlite(error);
  value->emplace(bytes, bytes + size);
  return true;
}

bool Connection::WriteValue(const std::string& table, const std::string& column, int64_t rowid,
                            const std::vector<uint8_t>& bytes, StoreError* error) {
  if (!IsOpen()) return Fail(error, kClosed);
  const Statement update(handle_, UpdateSql(table, column));
  if (!update) return FailWithSqlite(error);
  if (!Run("BEGIN IMMEDIATE", error)) return false;
  sqlite3_bind_int64(update.Get(), 1, rowid);
  // A zero-length blob still needs a non-null pointer to be stored as a blob.
  static const uint8_t kNothing = 0;
  sqlite3_bind_blob64(update.Get(), 2, bytes.empty() ? &kNothing : bytes.data(), bytes.size(),
                      SQLITE_STATIC);
  bool ok = sqlite3_step(update.Get()) == SQLITE_DONE || FailWithSqlite(error);
  if (ok && sqlite3_changes(handle_) == 0) ok = Fail(error, NoRowText(table, rowid));
  if (ok) ok = Run("COMMIT", error);
  if (!ok && sqlite3_get_autocommit(handle_) == 0) {
    sqlite3_exec(handle_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  return ok;
}

}  // namespace database
