// One client's socket: reading a request head within a time limit, sending bytes, and
// telling whether the client is still there.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "host/http_request.h"

namespace host {

enum class HeadOutcome {
  kRequest,    // a complete head
  kMalformed,  // bytes that are no request head
  kTooLarge,   // a head over the limits
  kTimedOut,   // the head did not arrive in time (partly or not at all)
  kClosed,     // the client closed (or failed) before the head was complete
};

struct HeadRead {
  HeadOutcome outcome = HeadOutcome::kClosed;
  bool gotBytes = false;  // whether the client sent anything
  HttpRequest request;    // with kRequest
};

class Connection {
 public:
  // Takes ownership of a connected socket and bounds how long a send may block.
  explicit Connection(int socket);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Reads until a request head is complete, broken, too large, or `limit` has passed
  // since the call began (so a client that trickles bytes cannot hold the thread).
  HeadRead ReadHead(std::chrono::milliseconds limit);

  // Sends every byte; false once a send has failed (the client is gone from then on).
  bool Send(std::string_view bytes);

  // False once the client has closed its side or a send has failed.
  bool ClientConnected();

  // Ends the response: closes our side, reads (and drops) what the client still sends
  // for a moment so that it sees the response before the connection goes.
  void Finish();

  int Socket() const { return socket_; }

 private:
  int socket_;
  bool failed_ = false;
};

}  // namespace host
