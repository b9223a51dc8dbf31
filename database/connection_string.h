// Which engine a connection string names, and what it hands that engine.
//
//   /var/db/site.db, site.db, :memory:      an SQLite file (or memory database)
//   sqlite:PATH, sqlite://PATH              the same, said explicitly
//   postgresql://..., postgres://...        a PostgreSQL URI
//   host=/run/pg dbname=site user=web       a PostgreSQL key=value string: its first
//                                           word is a keyword libpq knows, then '='
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "database/engine.h"

namespace database {

struct ConnectionTarget {
  Engine engine = Engine::kSqlite;
  std::string location;  // the file for SQLite, the libpq connection string otherwise
};

// Nothing, with the reason, for an empty string or an empty SQLite path.
std::optional<ConnectionTarget> ParseConnectionString(std::string_view text, std::string* error);

}  // namespace database
