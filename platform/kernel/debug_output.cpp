#include "platform/kernel/debug_output.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool SwitchFromEnvironment() {
  const char* value = std::getenv("VELLUM_DEBUG");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

std::atomic<bool>& DebugSwitch() {
  static std::atomic<bool> on{SwitchFromEnvironment()};
  return on;
}

}  // namespace

void OutputDebugStringA(LPCSTR text) {
  if (text == nullptr || !DebugSwitch().load()) return;
  std::fputs(text, stderr);
}

void SetDebugOutput(bool on) { DebugSwitch().store(on); }
