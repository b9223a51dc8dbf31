#include "database/engine.h"

#include "database/connection_string.h"
#include "database/postgres_engine.h"
#include "database/sqlite_engine.h"

namespace database {

std::unique_ptr<Session> OpenSession(std::string_view connectionString, const std::string& user,
                                     const std::string& password, std::string* error) {
  const std::optional<ConnectionTarget> target = ParseConnectionString(connectionString, error);
  if (!target) return nullptr;
  if (target->engine == Engine::kPostgres) {
    return OpenPostgresSession(target->location, user, password, error);
  }
  return OpenSqliteSession(target->location, error);
}

}  // namespace database
