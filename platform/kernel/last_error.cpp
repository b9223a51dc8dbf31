#include "platform/kernel/last_error.h"

#include <cstring>

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

void SetLastErrorFromErrno() { t_lastError = static_cast<DWORD>(errno); }

std::string SystemMessageText(DWORD code) {
  if (code == 0 || code > 4095) return {};
  char buffer[256];
  // The GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return {};
  return std::string(text) + "\r\n";
}
