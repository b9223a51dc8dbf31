#include "database/sqlite_open.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <cstring>

#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"

namespace database {

namespace {

// Names SQLite takes for databases that are no file.
bool NamesNoFile(const char* name) { return name[0] == '\0' || std::strcmp(name, ":memory:") == 0; }

// Every database file a connection opens (the file itself, ATTACH, VACUUM INTO) goes
// through the platform's file access: inside the allowed folders (where a URI name,
// which could carry its own options, is refused), and a regular file when it exists,
// since SQLite would wait forever on a pipe. Gives the name to open, or the reason.
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

// SQLite's busy handler: `attempt` is how often it was called for this lock.
int WaitForLock(void* waitMs, int attempt) {
  if (attempt >= static_cast<int>(reinterpret_cast<intptr_t>(waitMs))) return 0;
  const timespec millisecond{0, 1000000};
  nanosleep(&millisecond, nullptr);
  return 1;
}

}  // namespace

sqlite3* OpenSqliteFile(const std::string& path, int waitMs, std::string* error) {
  std::string name;
  if (!CheckDatabaseFile(path.c_str(), &name, error)) return nullptr;
  sqlite3* handle = nullptr;
  const int rc =
      sqlite3_open_v2(name.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
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
  sqlite3_set_authorizer(handle, AuthorizeAttach, nullptr);
  return handle;
}

}  // namespace database
