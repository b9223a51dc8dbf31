// The one place where the database module opens an SQLite file, for the old
// single-file object and the SQLite engine alike, so that whatever a file must
// satisfy before it is opened is checked here.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace database {

// How long a statement waits for another connection's write to end.
constexpr int kSqliteBusyTimeoutMs = 5000;

// Opens (creating when missing) the database file read-write, with the busy timeout
// set and double-quoted names read only as names. Null with SQLite's message.
sqlite3* OpenSqliteFile(const std::string& path, std::string* error);

// A prepared statement, finalized when it goes. `tail`, when given, receives where the
// text after the first statement starts.
class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, std::string_view sql, const char** tail = nullptr) {
    sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, tail);
  }
  ~SqliteStatement() { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  sqlite3_stmt* Get() const { return statement_; }
  explicit operator bool() const { return statement_ != nullptr; }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace database
