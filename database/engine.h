// What the database objects ask of an engine: a session (one connection to one
// database) that runs statements with bound parameters and hands back their rows as
// a result held in memory. SQLite and PostgreSQL implement it; the connection string
// chooses between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/values.h"

namespace database {

enum class Engine { kSqlite, kPostgres };

// The rows of one statement, held in memory until the last holder lets go.
class ResultSet {
 public:
  virtual ~ResultSet() = default;
  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  virtual size_t RowCount() const = 0;
  // Valid while the result lives.
  virtual ValueView Cell(size_t row, size_t column) const = 0;

 protected:
  std::vector<ColumnInfo> columns_;
};

// Values bound to a statement's parameters: by position, or by name when `names`
// holds one name per value (without the placeholder's leading ':', '@' or '$').
struct Parameters {
  std::vector<ValueView> values;
  std::vector<std::string> names;
  bool Named() const { return !names.empty(); }
};

struct Outcome {
  std::shared_ptr<const ResultSet> rows;  // set when the statement produces rows
  int64_t changed = 0;                    // rows inserted, updated or deleted otherwise
};

class Session {
 public:
  virtual ~Session() = default;
  virtual Engine Kind() const = 0;
  // Runs `sql`. With parameters the text must hold one statement; without, it may hold
  // several, and the outcome is that of the last (the changes are those of all).
  // `describeSources` asks for the source table, column and key of each column of
  // the rows, which writing rows back needs. False with the engine's message.
  virtual bool Execute(std::string_view sql, const Parameters& parameters, bool describeSources,
                       Outcome* outcome, std::string* error) = 0;
  // The placeholder of parameter `number` (from 1) in statements the objects write.
  virtual std::string Placeholder(int number) const = 0;
  // The statement that starts a transaction.
  virtual const char* BeginStatement() const = 0;
  // Commits the open transaction; fails (having rolled it back) when the engine would
  // only roll it back.
  virtual bool Commit(std::string* error) {
    Outcome ignored;
    return Execute("COMMIT", {}, false, &ignored, error);
  }
};

// Opens a session for a connection string (see ParseConnectionString); user and
// password are for PostgreSQL and may be empty. Null with the reason otherwise.
std::unique_ptr<Session> OpenSession(std::string_view connectionString, const std::string& user,
                                     const std::string& password, std::string* error);

}  // namespace database
