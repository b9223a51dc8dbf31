#include "database/postgres_pool.h"

#include <poll.h>

#include <memory>

namespace database {

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// Notices (such as "table does not exist, skipping") are not the host's output.
void IgnoreNotice(void*, const char*) {}

// Idle, with nothing arrived from the server since it was given back.
bool StillUsable(PGconn* connection) {
  if (PQstatus(connection) != CONNECTION_OK || PQtransactionStatus(connection) != PQTRANS_IDLE) {
    return false;
  }
  pollfd socket{PQsocket(connection), POLLIN, 0};
  return socket.fd >= 0 && poll(&socket, 1, 0) == 0;
}

bool Run(PGconn* connection, const char* sql) {
  const Result result(PQexec(connection, sql), &PQclear);
  return PQresultStatus(result.get()) == PGRES_COMMAND_OK;
}

// Rolled back and reset to a fresh session; false when that cannot be done.
bool Reset(PGconn* connection) {
  if (PQstatus(connection) != CONNECTION_OK) return false;
  switch (PQtransactionStatus(connection)) {
    case PQTRANS_IDLE:
      break;
    case PQTRANS_INTRANS:
    case PQTRANS_INERROR:
      if (!Run(connection, "ROLLBACK")) return false;
      break;
    default:
      return false;
  }
  return Run(connection, "DISCARD ALL");
}

}  // namespace

std::string TrimmedMessage(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

PostgresPool& PostgresPool::Instance() {
  static PostgresPool pool;
  return pool;
}

PostgresPool::~PostgresPool() {
  for (auto& [key, connections] : idle_) {
    for (PGconn* connection : connections) PQfinish(connection);
  }
}

std::string PostgresPool::TargetKey(const std::string& connectionString, const std::string& user,
                                    const std::string& password) {
  std::string key = connectionString;
  key += '\0';
  key += user;
  key += '\0';
  key += password;
  return key;
}

PGconn* PostgresPool::TakeIdle(const std::string& key) {
  std::vector<PGconn*> stale;
  PGconn* found = nullptr;
  {
    std::lock_guard hold(mutex_);
    const auto entry = idle_.find(key);
    while (entry != idle_.end() && !entry->second.empty() && found == nullptr) {
      PGconn* candidate = entry->second.back();
      entry->second.pop_back();
      if (StillUsable(candidate)) {
        found = candidate;
      } else {
        stale.push_back(candidate);
      }
    }
  }
  for (PGconn* connection : stale) PQfinish(connection);
  return found;
}

PGconn* PostgresPool::Take(const std::string& connectionString, const std::string& user,
                           const std::string& password, std::string* error) {
  if (PGconn* idle = TakeIdle(TargetKey(connectionString, user, password))) return idle;
  // The string's own settings override the first two; the ones after it override the
  // string, and the text of this side is always UTF-8.
  std::vector<const char*> keywords = {"connect_timeout", "fallback_application_name", "dbname"};
  std::vector<const char*> values = {"10", "vellum", connectionString.c_str()};
  if (!user.empty()) keywords.push_back("user"), values.push_back(user.c_str());
  if (!password.empty()) keywords.push_back("password"), values.push_back(password.c_str());
  keywords.push_back("client_encoding"), values.push_back("UTF8");
  keywords.push_back(nullptr), values.push_back(nullptr);
  PGconn* connection = PQconnectdbParams(keywords.data(), values.data(), 1);
  if (connection == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  if (PQstatus(connection) != CONNECTION_OK) {
    *error = TrimmedMessage(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  PQsetNoticeProcessor(connection, &IgnoreNotice, nullptr);
  return connection;
}

void PostgresPool::Give(const std::string& connectionString, const std::string& user,
                        const std::string& password, PGconn* connection) {
  if (connection == nullptr) return;
  if (Reset(connection)) {
    std::lock_guard hold(mutex_);
    std::vector<PGconn*>& idle = idle_[TargetKey(connectionString, user, password)];
    if (idle.size() < kMaxIdlePerTarget) {
      idle.push_back(connection);
      return;
    }
  }
  PQfinish(connection);
}

size_t PostgresPool::IdleCount() {
  std::lock_guard hold(mutex_);
  size_t count = 0;
  for (const auto& [key, connections] : idle_) count += connections.size();
  return count;
}

}  // namespace database
