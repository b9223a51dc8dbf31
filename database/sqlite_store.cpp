#include "database/sqlite_store.h"

#include <utility>

#include "database/sqlite_open.h"

namespace database {

namespace {

constexpr char kClosed[] = "the database is closed";
// How long a statement waits for another connection's write to end.
constexpr int kWaitMs = 5000;

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

}  // namespace

std::shared_ptr<Connection> Connection::Open(const std::string& path, StoreError* error) {
  sqlite3* handle = OpenSqliteFile(path, kWaitMs, &error->message);
  return handle != nullptr ? std::shared_ptr<Connection>(new Connection(handle)) : nullptr;
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
  const SqliteStatement select(handle_, SelectSql(table, column));
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
  const SqliteStatement update(handle_, UpdateSql(table, column));
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
