// Every open connection of the host, what it is doing and since when, and a watchman
// thread that holds each to its deadlines: an idle connection closed in time, a request
// head complete in time once its first byte came, a body in time, a response sent in
// time. A connection past a deadline is shut down (with a 408 first while the client is
// still sending its request); the engine then sees it end and closes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace host {

using Clock = std::chrono::steady_clock;

enum class Phase {
  kWaiting,    // for a request head (idle, or part of one in)
  kReceiving,  // the head is in; the body is coming
  kRunning,    // a page is running; no deadline
  kSending,    // the response is going out
};

struct ConnectionLimits {
  std::chrono::seconds idle{15};
  std::chrono::seconds head{10};
  std::chrono::seconds body{60};
  std::chrono::seconds send{60};
  unsigned perAddress = 0;  // 0: no cap
};

struct Connection {
  int socket = -1;
  std::string address;  // of the client, as text
  uint16_t port = 0;
  std::string localAddress;
  uint16_t localPort = 0;
  std::string target;  // of the request whose line came last
  // Under the table's lock:
  Phase phase = Phase::kWaiting;
  Clock::time_point since;
  uint64_t receivedBefore = 0;                 // bytes the client had sent when kWaiting began
  std::optional<Clock::time_point> firstByte;  // of the head being waited for
  // Set when the table cuts the connection: the client is told 408 while it was still
  // sending its request, then the connection is shut for sending at once and for
  // receiving a moment later (so the client can read the 408 before the engine closes).
  std::optional<Clock::time_point> cutAt;
  bool shut = false;  // both ways
  int cutStatus = 0;  // 408 when cut for a late request
};

class ConnectionTable {
 public:
  // `log` receives a line for every connection refused or cut.
  ConnectionTable(ConnectionLimits limits, std::function<void(const std::string&)> log);
  ~ConnectionTable();
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  // Whether a new connection from the address may open: false when the address
  // already holds its share (logged).
  bool Admit(const std::string& address);
  // A connection opened and closed.
  Connection* Opened(int socket, std::string address, uint16_t port);
  void Closed(Connection* connection);

  // The request line arrived (the head is under way).
  void SawRequestLine(Connection* connection, std::string target);
  // Moves to a phase, its deadline counted from now; false when the table already
  // cut the connection (the caller then gives it up).
  bool Enter(Connection* connection, Phase phase);
  // Resets the connection now (a response that can no longer be sent).
  void Cut(Connection* connection, const std::string& why);
  // The status a cut left for the request in progress (0 when none).
  int CutStatus(Connection* connection);

  // From now on idle connections are closed at once.
  void BeginStop();
  // Whether a connection is receiving a request head (a request on its way).
  bool HeadsUnderWay();

 private:
  void Watch();
  void Check(Connection& connection, Clock::time_point now);
  // How a cut ends a connection: closed (idle), 408 then closed (a late request), or
  // reset (a response that can no longer be sent in time).
  enum class Ending { kClose, kTimeout, kReset };
  void CutLocked(Connection& connection, Ending ending, const std::string& why,
                 Clock::time_point now);
  void WritePendingLines();

  const ConnectionLimits limits_;
  const std::function<void(const std::string&)> log_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<Connection*> open_;
  std::map<std::string, unsigned> perAddress_;
  std::vector<std::string> pendingLines_;
  bool stopping_ = false;
  bool ending_ = false;
  std::thread watchman_;
};

}  // namespace host
