#include "vellum/easel_io.h"

#include <array>

#include "platform/kernel/code_page.h"
#include "platform/kernel/last_error.h"

namespace vellum {

namespace {

// The buffer a path is converted into; one byte always stays for the terminator.
constexpr int kPathBufferBytes = 2047;

}  // namespace

const BSTR* PathArgument(const VARIANT& value) {
  if (value.vt == VT_BSTR) return &value.bstrVal;
  if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr &&
      value.pvarVal->vt == VT_BSTR) {
    return &value.pvarVal->bstrVal;
  }
  return nullptr;
}

std::optional<std::string> PathToAnsi(BSTR path) {
  const std::u16string_view text = BstrView(path);
  if (text.find(u'\0') != std::u16string_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  std::array<char, kPathBufferBytes> buffer{};
  if (!text.empty()) {
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                            buffer.data(), kPathBufferBytes - 1, nullptr, nullptr);
    if (written == 0) return std::nullopt;
  }
  return std::string(buffer.data());
}

}  // namespace vellum
