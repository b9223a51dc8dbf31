// A PostgreSQL server of the test program's own (scripts/pg_scratch.sh): started in a
// scratch directory when a test first asks for it, stopped and removed when the
// program ends.
#pragma once

#include <string>

namespace testing_support {

// The server's connection string (key=value, a Unix socket in the scratch directory);
// empty, with the reason in `error`, when it could not be started.
std::string PostgresConnectionString(std::string* error);

}  // namespace testing_support
