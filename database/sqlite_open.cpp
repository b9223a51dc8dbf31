#include "database/sqlite_open.h"

namespace database {

sqlite3* OpenSqliteFile(const std::string& path, std::string* error) {
  sqlite3* handle = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *error = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    sqlite3_close_v2(handle);
    return nullptr;
  }
  sqlite3_busy_timeout(handle, kSqliteBusyTimeoutMs);
  // A double-quoted name that matches no column must not be read as a text literal.
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  return handle;
}

}  // namespace database
