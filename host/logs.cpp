#include "host/logs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>

namespace host {

namespace {

int OpenForAppending(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
}

// The local time as strftime formats it.
std::string LocalTime(std::chrono::system_clock::time_point time, const char* format) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, format, &local);
  return std::string(text, length);
}

// A quoted field of the access log: quotes, backslashes and bytes outside printable
// ASCII as \xHH, so a field can neither end early nor break the line.
std::string Quoted(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      quoted += "\\x";
      quoted += kDigits[byte >> 4];
      quoted += kDigits[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

LogFile::~LogFile() {
  if (descriptor_ >= 0 && descriptor_ != standard_) close(descriptor_);
}

bool LogFile::Open(std::string* error) {
  if (path_.empty()) return true;
  if (path_ == "-") {
    descriptor_ = standard_;
    return true;
  }
  descriptor_ = OpenForAppending(path_);
  if (descriptor_ < 0) {
    *error = "cannot open the log " + path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void LogFile::Reopen() {
  if (path_.empty() || path_ == "-") return;
  const int reopened = OpenForAppending(path_);
  if (reopened < 0) return;
  const std::lock_guard lock(mutex_);
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = reopened;
}

void LogFile::WriteLine(std::string line) {
  if (path_.empty()) return;
  line += '\n';
  const std::lock_guard lock(mutex_);
  std::string_view rest = line;
  while (!rest.empty() && descriptor_ >= 0) {
    const ssize_t written = write(descriptor_, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;  // a full disk or a closed pipe loses the line, not the host
    rest.remove_prefix(static_cast<size_t>(written));
  }
}

std::string AccessLine(const AccessEntry& entry) {
  const double seconds = std::chrono::duration<double>(entry.duration).count();
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", seconds);
  return entry.client + " - - [" + LocalTime(entry.time, "%d/%b/%Y:%H:%M:%S %z") + "] " +
         Quoted(entry.requestLine) + " " + std::to_string(entry.status) + " " +
         std::to_string(entry.bytes) + " " + Quoted(entry.referer) + " " + Quoted(entry.userAgent) +
         " " + duration;
}

ErrorLog::ErrorLog(LogFile& file) : file_(file) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%06x", std::random_device()() & 0xFFFFFFu);
  runPrefix_ = prefix;
}

void ErrorLog::Write(std::string_view level, std::string_view text) {
  file_.WriteLine(LocalTime(std::chrono::system_clock::now(), "%Y-%m-%d %H:%M:%S %z") + " " +
                  std::string(level) + ": " + std::string(text));
}

std::string ErrorLog::NewIncident() {
  const std::lock_guard lock(mutex_);
  return runPrefix_ + "-" + std::to_string(++incidents_);
}

std::string ErrorLog::ScriptFailure(const RequestRecord& request,
                                    const host::ScriptFailure& failure) {
  const std::string incident = NewIncident();
  std::string text = "incident " + incident + ": " + request.remoteAddress + " \"" +
                     request.method + " " + request.target + "\": " + failure.file;
  if (failure.line > 0) text += ":" + std::to_string(failure.line);
  text += ": " + failure.message;
  if (!failure.stack.empty()) {
    text += "\n" + failure.stack;
    if (text.back() == '\n') text.pop_back();
  }
  Write("error", text);
  return incident;
}

}  // namespace host
