// The SQLite engine: a session over one database file, in write-ahead-log mode with a
// busy timeout so that concurrent pages wait for each other's writes instead of
// failing, and with foreign keys enforced. A transaction takes the write lock when it
// begins, so that two transactions never deadlock upgrading their reads.
#pragma once

#include <memory>
#include <string>

#include "database/engine.h"

namespace database {

std::unique_ptr<Session> OpenSqliteSession(const std::string& path, std::string* error);

}  // namespace database
