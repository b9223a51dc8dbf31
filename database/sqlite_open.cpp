#include "database/sqlite_open.h"

#include <time.h>

#include <cstdint>

namespace database {

namespace {

// SQLite's busy handler: `attempt` is how often it was called for this lock.
int WaitForLock(void* waitMs, int attempt) {
  if (attempt >= static_cast<int>(reinterpret_cast<intptr_t>(waitMs))) return 0;
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
  return 1;
}

}  // namespace

sqlite3* OpenSqliteFile(const std::string& path, int waitMs, std::string* error) {
  sqlite3* handle = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *error = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    sqlite3_close_v2(handle);
    return nullptr;
  }
  sqlite3_busy_handler(handle, &WaitForLock,
                       reinterpret_cast<void*>(static_cast<intptr_t>(waitMs)));
  // A double-quoted name that matches no column must not be read as a text literal.
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  return handle;
}

}  // namespace database
