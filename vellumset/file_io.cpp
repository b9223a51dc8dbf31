#include "vellumset/file_io.h"

#include "platform/kernel/code_page.h"
#include "platform/policy/file_access.h"
#include "vellumset/errors.h"

namespace vellumset {

DWORD PathFromBstr(BSTR name, std::string* path) {
  std::optional<std::string> converted = Utf16ToUtf8(BstrView(name));
  if (!converted) return ERROR_NO_UNICODE_TRANSLATION;
  if (converted->find('\0') != std::string::npos) return ERROR_INVALID_PARAMETER;
  *path = std::move(*converted);
  return NO_ERROR;
}

HRESULT ReportFileError(REFCLSID source, REFIID iid, const std::string& path, DWORD code) {
  if (code == policy::kOutsideAllowedFolders && !policy::IsAllowedPath(path)) {
    return ReportError(source, iid, kOutsideAllowedFolders, HRESULT_FROM_WIN32(code));
  }
  return ReportSystemError(source, iid, code);
}

}  // namespace vellumset
