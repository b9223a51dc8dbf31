// The connections to PostgreSQL servers that a process keeps open between pages, so
// that a page does not pay for a new connection. One pool per process, its idle
// connections kept per target (connection string, user and password).
//
// A connection taken from the pool is the taker's alone until it gives it back. A
// connection given back is rolled back when a transaction is open and reset to a
// fresh session (DISCARD ALL: settings, temporary tables, prepared statements, locks
// and listeners go), so one page never sees what another left; one that fails to
// reset, or is broken, is closed instead. An idle connection whose server has closed
// it (or sent anything) is dropped when it is next taken. At most kMaxIdlePerTarget
// idle connections are kept per target; the others are closed.
#pragma once

#include <libpq-fe.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace database {

// A message of libpq without its closing line feed.
std::string TrimmedMessage(const char* message);

class PostgresPool {
 public:
  static constexpr size_t kMaxIdlePerTarget = 16;

  static PostgresPool& Instance();
  ~PostgresPool();

  // An idle connection to the target, or a new one; null with libpq's message.
  PGconn* Take(const std::string& connectionString, const std::string& user,
               const std::string& password, std::string* error);
  // Hands a connection taken for the same target back.
  void Give(const std::string& connectionString, const std::string& user,
            const std::string& password, PGconn* connection);

  size_t IdleCount();

 private:
  PostgresPool() = default;
  static std::string TargetKey(const std::string& connectionString, const std::string& user,
                               const std::string& password);
  PGconn* TakeIdle(const std::string& key);

  std::mutex mutex_;
  std::map<std::string, std::vector<PGconn*>> idle_;
};

}  // namespace database
