// The one place where the database module opens an SQLite file, for the old
// single-file object and the SQLite engine alike, so that whatever a file must
// satisfy before it is opened is checked here.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace database {

// Opens (creating when missing) the database file read-write, with double-quoted names
// read only as names. The file, and any a statement attaches (ATTACH, VACUUM INTO), must
// lie inside the folders the process allows and be a regular file when it exists
// (refused with a message; an attach with "not authorized"). A statement that finds the file locked
// by another connection's write tries again every millisecond for up to `waitMs` milliseconds
// (SQLite's own wait sleeps ever longer, up to 100 ms, so that under steady contention a waiter can
// miss every moment the lock is free). Null with SQLite's message.
sqlite3* OpenSqliteFile(const std::string& path, int waitMs, std::string* error);

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
