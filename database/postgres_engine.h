// The PostgreSQL engine: a session over a connection lent by the process's pool (and
// given back when the session ends). A statement with values is prepared, described
// and then executed with the values bound: byte values as bytea in binary form, the
// others as text the server converts to the parameter's type. Rows come back in
// binary form when every column has a type read here in that form (numbers, booleans,
// texts, bytea), and as text otherwise (bytea then decoded from its hex form).
// Placeholders may be written '?', ':name' or '$1'.
#pragma once

#include <memory>
#include <string>

#include "database/engine.h"

namespace database {

std::unique_ptr<Session> OpenPostgresSession(const std::string& connectionString,
                                             const std::string& user, const std::string& password,
                                             std::string* error);

}  // namespace database
