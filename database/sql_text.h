// Reading SQL text the way PostgreSQL does (SQLite's quotes and comments are the same),
// only as far as placeholders and statement boundaries go: quoted texts and names, escape strings,
// dollar-quoted bodies and comments are passed over, so a '?' or ':name' inside them is never taken
// for a placeholder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace database {

struct TranslatedSql {
  std::string text;                // the statement with numbered placeholders ($1, $2, ...)
  std::vector<std::string> names;  // with named placeholders: the name of $1, $2, ...
  size_t statements = 0;           // statements in the text (blank ones not counted)
};

enum class Placeholders {
  kAsWritten,  // nothing is rewritten
  // Each '?' becomes $1, $2, ... unless the text already numbers its placeholders (a
  // '$' followed by a digit); a '?' is an operator then.
  kQuestionMarks,
  // Each ':name' becomes a number of its own, the same for each use of one name
  // ("::" casts are left alone).
  kNames,
};

TranslatedSql TranslatePlaceholders(std::string_view sql, Placeholders style);

}  // namespace database
