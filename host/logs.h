// The host's logs: an access log in the Combined Log Format with the request's duration
// appended, and an error log of timestamped lines. Either goes to a file (appended,
// reopened on request so that logrotate can move it) or to a standard stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "host/exchange.h"
#include "host/page_handler.h"

namespace host {

// A file the host appends whole lines to, from any thread.
class LogFile {
 public:
  // `path` is a file, "-" for `standardStream`, or "" for no log at all.
  LogFile(std::string path, int standardStream)
      : path_(std::move(path)), standard_(standardStream) {}
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens the file; false with the reason.
  bool Open(std::string* error);
  // Opens the path again (after the file was moved away); the old file stays in use
  // when the path cannot be opened.
  void Reopen();
  // Appends the line and a line feed in one write.
  void WriteLine(std::string line);
  bool Enabled() const { return !path_.empty(); }

 private:
  const std::string path_;
  const int standard_;
  std::mutex mutex_;
  int descriptor_ = -1;
};

// One line of the access log.
struct AccessEntry {
  std::string client;
  std::chrono::system_clock::time_point time;  // when the request began
  std::string requestLine;                     // "GET /x HTTP/1.1" as sent
  int status = 0;
  uint64_t bytes = 0;  // body bytes sent
  std::string referer;
  std::string userAgent;
  std::chrono::steady_clock::duration duration{};
};

// `host - - [day/Mon/year:hh:mm:ss +zone] "request" status bytes "referer" "agent" seconds`,
// quotes, backslashes and control bytes in the quoted fields escaped as \xHH.
std::string AccessLine(const AccessEntry& entry);

// The error log: "YYYY-MM-DD hh:mm:ss +zone LEVEL: text" lines, incidents numbered.
class ErrorLog {
 public:
  explicit ErrorLog(LogFile& file);

  void Write(std::string_view level, std::string_view text);
  // Writes the failure with the request it broke under a new incident number, which
  // it returns.
  std::string ScriptFailure(const RequestRecord& request, const host::ScriptFailure& failure);

 private:
  std::string NewIncident();

  LogFile& file_;
  std::string runPrefix_;
  std::mutex mutex_;
  uint64_t incidents_ = 0;
};

}  // namespace host
