#include "vellumset/errors.h"

#include <string>

#include "platform/com/error_info.h"
#include "platform/kernel/code_page.h"
#include "platform/kernel/last_error.h"

namespace vellumset {

HRESULT ReportError(REFCLSID source, REFIID iid, std::u16string_view message, HRESULT result) {
  try {
    const std::u16string description(message);
    return SetErrorInfoForClass(source, description.c_str(), iid, result);
  } catch (const std::bad_alloc&) {
    return result == 0 ? DISP_E_EXCEPTION : result;
  }
}

HRESULT ReportSystemError(REFCLSID source, REFIID iid, DWORD code) {
  const HRESULT result = code == 0 ? E_FAIL : HRESULT_FROM_WIN32(code);
  try {
    return ReportError(source, iid, Utf8ToUtf16(SystemMessageText(code)).value_or(u""), result);
  } catch (const std::bad_alloc&) {
    return result;
  }
}

}  // namespace vellumset
