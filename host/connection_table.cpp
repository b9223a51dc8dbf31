#include "host/connection_table.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "host/status_pages.h"

namespace host {

namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(200);
// How long a client has to read a 408 before the connection closes.
constexpr auto kDrainTime = std::chrono::seconds(1);

// Bytes the client has sent over the connection so far (0 where the system does not say).
uint64_t BytesReceived(int socket) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  if (length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
    return 0;
  }
  return info.tcpi_bytes_received;
}

const std::string& TimeoutResponse() {
  static const std::string response = [] {
    const std::string body = StatusPage(408, "The request took too long to arrive.");
    return "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\n"
           "Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
  }();
  return response;
}

long Seconds(std::chrono::seconds seconds) { return static_cast<long>(seconds.count()); }

}  // namespace

ConnectionTable::ConnectionTable(ConnectionLimits limits,
                                 std::function<void(const std::string&)> log)
    : limits_(limits), log_(std::move(log)), watchman_(&ConnectionTable::Watch, this) {}

ConnectionTable::~ConnectionTable() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  watchman_.join();
}

bool ConnectionTable::Admit(const std::string& address) {
  if (limits_.perAddress == 0) return true;
  {
    const std::lock_guard lock(mutex_);
    const auto found = perAddress_.find(address);
    if (found == perAddress_.end() || found->second < limits_.perAddress) return true;
  }
  log_("refused a connection from " + address + ": it holds " + std::to_string(limits_.perAddress) +
       " connections already");
  return false;
}

Connection* ConnectionTable::Opened(int socket, std::string address, uint16_t port) {
  auto* connection = new Connection;
  connection->socket = socket;
  connection->address = std::move(address);
  connection->port = port;
  const uint64_t received = BytesReceived(socket);
  const std::lock_guard lock(mutex_);
  connection->since = Clock::now();
  connection->receivedBefore = received;
  ++perAddress_[connection->address];
  open_.insert(connection);
  return connection;
}

void ConnectionTable::Closed(Connection* connection) {
  {
    const std::lock_guard lock(mutex_);
    open_.erase(connection);
    const auto count = perAddress_.find(connection->address);
    if (count != perAddress_.end() && --count->second == 0) perAddress_.erase(count);
  }
  delete connection;
}

void ConnectionTable::SawRequestLine(Connection* connection, std::string target) {
  const std::lock_guard lock(mutex_);
  connection->target = std::move(target);
  if (!connection->firstByte) connection->firstByte = Clock::now();
}

bool ConnectionTable::Enter(Connection* connection, Phase phase) {
  const uint64_t received = phase == Phase::kWaiting ? BytesReceived(connection->socket) : 0;
  const std::lock_guard lock(mutex_);
  if (connection->cutAt) return false;
  connection->phase = phase;
  connection->since = Clock::now();
  if (phase == Phase::kWaiting) {
    connection->receivedBefore = received;
    connection->firstByte.reset();
    connection->cutStatus = 0;
  }
  return true;
}

void ConnectionTable::Cut(Connection* connection, const std::string& why) {
  {
    const std::lock_guard lock(mutex_);
    if (open_.contains(connection)) CutLocked(*connection, Ending::kReset, why, Clock::now());
  }
  WritePendingLines();
}

// The log lines of cuts, written once the table's lock is let go (a slow log must not
// hold up the engine threads).
void ConnectionTable::WritePendingLines() {
  std::vector<std::string> lines;
  {
    const std::lock_guard lock(mutex_);
    lines.swap(pendingLines_);
  }
  for (const std::string& line : lines) log_(line);
}

int ConnectionTable::CutStatus(Connection* connection) {
  const std::lock_guard lock(mutex_);
  return connection->cutStatus;
}

void ConnectionTable::BeginStop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

bool ConnectionTable::HeadsUnderWay() {
  const std::lock_guard lock(mutex_);
  return std::any_of(open_.begin(), open_.end(), [](const Connection* connection) {
    return connection->phase == Phase::kWaiting && connection->firstByte && !connection->cutAt;
  });
}

void ConnectionTable::CutLocked(Connection& connection, Ending ending, const std::string& why,
                                Clock::time_point now) {
  if (connection.cutAt) return;
  connection.cutAt = now;
  connection.cutStatus = ending == Ending::kTimeout ? 408 : 0;
  switch (ending) {
    case Ending::kTimeout: {
      const std::string& response = TimeoutResponse();
      send(connection.socket, response.data(), response.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      shutdown(connection.socket, SHUT_WR);
      break;
    }
    case Ending::kReset: {
      // The engine's close then resets the connection and drops what the system still
      // holds for the client.
      const linger abortive = {1, 0};
      setsockopt(connection.socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
      shutdown(connection.socket, SHUT_RDWR);
      connection.shut = true;
      break;
    }
    case Ending::kClose:
      shutdown(connection.socket, SHUT_RDWR);
      connection.shut = true;
      break;
  }
  if (!why.empty()) pendingLines_.push_back(why);
}

void ConnectionTable::Check(Connection& connection, Clock::time_point now) {
  if (connection.cutAt) {
    if (!connection.shut && now - *connection.cutAt >= kDrainTime) {
      shutdown(connection.socket, SHUT_RDWR);
      connection.shut = true;
    }
    return;
  }
  const auto elapsed = now - connection.since;
  const std::string client = connection.address + ":" + std::to_string(connection.port);
  switch (connection.phase) {
    case Phase::kWaiting: {
      if (!connection.firstByte && BytesReceived(connection.socket) > connection.receivedBefore) {
        connection.firstByte = now;
      }
      if (!connection.firstByte) {
        // Idle: closing loses nothing.
        if (stopping_ || elapsed >= limits_.idle) CutLocked(connection, Ending::kClose, "", now);
      } else if (now - *connection.firstByte >= limits_.head) {
        CutLocked(connection, Ending::kTimeout,
                  "408: the request head from " + client + " was not complete in " +
                      std::to_string(Seconds(limits_.head)) + " s",
                  now);
      }
      break;
    }
    case Phase::kReceiving:
      if (elapsed >= limits_.body) {
        CutLocked(connection, Ending::kTimeout,
                  "408: the request body from " + client + " for " + connection.target +
                      " was not complete in " + std::to_string(Seconds(limits_.body)) + " s",
                  now);
      }
      break;
    case Phase::kRunning:
      break;
    case Phase::kSending:
      if (elapsed >= limits_.send) {
        CutLocked(connection, Ending::kReset,
                  "cut the connection to " + client + ": the response to " + connection.target +
                      " was not sent in " + std::to_string(Seconds(limits_.send)) + " s",
                  now);
      }
      break;
  }
}

void ConnectionTable::Watch() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    wake_.wait_for(lock, kWatchInterval);
    const Clock::time_point now = Clock::now();
    for (Connection* connection : open_) Check(*connection, now);
    lock.unlock();
    WritePendingLines();
    lock.lock();
  }
}

}  // namespace host
