// A small HTTP/1.1 client for the host's tests: raw bytes out, replies read back by
// their framing (length, chunks or close), so that keep-alive and pipelining show.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

struct HttpReply {
  int status = 0;
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;                            // de-chunked
  bool chunked = false;
  bool complete = false;  // the framing ended the body as it should (a final chunk, the length)
};

// A connection to 127.0.0.1:port (replies wait at most `timeoutSeconds`), from another
// loopback address when `from` names one ("127.0.0.2").
class HttpConnection {
 public:
  explicit HttpConnection(int port, int timeoutSeconds = 20, const char* from = nullptr);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool Connected() const { return socket_ >= 0; }
  int Socket() const { return socket_; }
  bool Send(std::string_view bytes);
  // The next reply; nothing when the connection ended before a head came. A HEAD
  // request's reply has no body.
  std::optional<HttpReply> Read(bool headRequest = false);
  // Whether the server closes the connection within `milliseconds` (nothing more comes).
  bool ClosedByServer(int milliseconds);

 private:
  bool Fill();  // reads more; false at the end or on a time-out

  int socket_ = -1;
  std::string buffer_;
};

// Sends `request` on a new connection and reads one reply (an empty one when none).
HttpReply Exchange(int port, std::string_view request);
// GET of a target on a new connection that closes after the reply.
HttpReply Get(int port, std::string_view target, std::string_view headers = "");

}  // namespace testing_support
