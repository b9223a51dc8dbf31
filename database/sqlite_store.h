// SQLite underneath the database objects: a connection that several objects share
// (and that Close ends for all of them at once), and a binary large object stored in
// one column of one row. Failures carry SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/values.h"

namespace database {

// A failure: SQLite's message (or ours, for what SQLite does not check).
struct StoreError {
  std::string message;
};

class Connection {
 public:
  // Opens (creating when missing) the database file.
  static std::shared_ptr<Connection> Open(const std::string& path, StoreError* error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool IsOpen() const { return handle_ != nullptr; }
  // Every object holding the connection sees it closed afterwards.
  void Close();
  // Runs every statement of `sql`; the rows they changed (inserted, updated, deleted).
  std::optional<int64_t> Execute(const std::string& sql, StoreError* error);
  int64_t LastInsertRowId() const;

  // The whole value of one column of one row: nothing for SQL NULL. A missing
  // table, column or row is an error.
  bool ReadValue(const std::string& table, const std::string& column, int64_t rowid,
                 std::optional<std::vector<uint8_t>>* value, StoreError* error);
  // Replaces the value with `bytes` (a BLOB) in one transaction.
  bool WriteValue(const std::string& table, const std::string& column, int64_t rowid,
                  const std::vector<uint8_t>& bytes, StoreError* error);

 private:
  explicit Connection(sqlite3* handle) : handle_(handle) {}
  bool Fail(StoreError* error, std::string message) const;
  bool FailWithSqlite(StoreError* error) const;
  bool Run(const char* sql, StoreError* error);

  sqlite3* handle_;
};

}  // namespace database
