// How SQL text is read for PostgreSQL's placeholders and statements, and which engine a
// connection string names.
#include "database/sql_text.h"

#include <gtest/gtest.h>

#include "database/connection_string.h"

namespace {

using database::Placeholders;

struct Translation {
  const char* sql;
  Placeholders style;
  const char* text;
  std::vector<std::string> names;
  size_t statements;
};

class PlaceholderTest : public ::testing::TestWithParam<Translation> {};

TEST_P(PlaceholderTest, OnlyPlaceholdersOutsideQuotesAndCommentsAreNumbered) {
  const Translation& expected = GetParam();
  const database::TranslatedSql out = database::TranslatePlaceholders(expected.sql, expected.style);
  EXPECT_EQ(out.text, expected.text);
  EXPECT_EQ(out.names, expected.names);
  EXPECT_EQ(out.statements, expected.statements);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlaceholderTest,
    ::testing::Values(
        Translation{
            "SELECT ?, ? FROM t", Placeholders::kQuestionMarks, "SELECT $1, $2 FROM t", {}, 1},
        Translation{
            "SELECT '?''?', \"a?\", E'\\'?', $$?$$, $q$ ? $q$, ? -- ?\n/* ? /* ? */ ? */ ?",
            Placeholders::kQuestionMarks,
            "SELECT '?''?', \"a?\", E'\\'?', $$?$$, $q$ ? $q$, $1 -- ?\n/* ? /* ? */ ? */ $2",
            {},
            1},
        // Numbered placeholders are kept, and a '?' is then an operator.
        Translation{"SELECT $1 WHERE j ? 'k'",
                    Placeholders::kQuestionMarks,
                    "SELECT $1 WHERE j ? 'k'",
                    {},
                    1},
        Translation{"SELECT a$1, ?", Placeholders::kQuestionMarks, "SELECT a$1, $1", {}, 1},
        Translation{"SELECT :a::text, :b, :a, ':c', x::int",
                    Placeholders::kNames,
                    "SELECT $1::text, $2, $1, ':c', x::int",
                    {"a", "b"},
                    1},
        Translation{"SELECT ?", Placeholders::kAsWritten, "SELECT ?", {}, 1},
        Translation{"INSERT INTO t VALUES (';'); SELECT 2;",
                    Placeholders::kAsWritten,
                    "INSERT INTO t VALUES (';'); SELECT 2;",
                    {},
                    2},
        Translation{" ; -- only a comment\n ; /* ; */",
                    Placeholders::kAsWritten,
                    " ; -- only a comment\n ; /* ; */",
                    {},
                    0},
        // An unterminated quote runs to the end and hides what follows.
        Translation{"SELECT 'open ?", Placeholders::kQuestionMarks, "SELECT 'open ?", {}, 1}));

struct Target {
  const char* text;
  bool valid;
  database::Engine engine;
  const char* location;
};

class ConnectionStringTest : public ::testing::TestWithParam<Target> {};

TEST_P(ConnectionStringTest, NamesOneEngine) {
  const Target& expected = GetParam();
  std::string error;
  const std::optional<database::ConnectionTarget> target =
      database::ParseConnectionString(expected.text, &error);
  ASSERT_EQ(target.has_value(), expected.valid) << expected.text;
  if (!target) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(target->engine, expected.engine) << expected.text;
  EXPECT_EQ(target->location, expected.location);
}

constexpr auto kSqlite = database::Engine::kSqlite;
constexpr auto kPostgres = database::Engine::kPostgres;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringTest,
    ::testing::Values(
        Target{"/srv/site.db", true, kSqlite, "/srv/site.db"},
        Target{" site.db ", true, kSqlite, "site.db"},
        Target{":memory:", true, kSqlite, ":memory:"},
        Target{"sqlite:/srv/site.db", true, kSqlite, "/srv/site.db"},
        Target{"SQLite:///srv/site.db", true, kSqlite, "/srv/site.db"},
        Target{"postgresql://web@db.local/site", true, kPostgres, "postgresql://web@db.local/site"},
        Target{"postgres:///site?host=/run/pg", true, kPostgres, "postgres:///site?host=/run/pg"},
        Target{"host=/run/pg dbname=site", true, kPostgres, "host=/run/pg dbname=site"},
        Target{"dbname = site", true, kPostgres, "dbname = site"},
        // Not a libpq keyword: a file name that holds '='.
        Target{"hostname=a.db", true, kSqlite, "hostname=a.db"}, Target{"", false, kSqlite, ""},
        Target{"  ", false, kSqlite, ""}, Target{"sqlite:", false, kSqlite, ""}));

}  // namespace
