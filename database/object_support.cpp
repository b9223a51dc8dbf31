#include "database/object_support.h"

#include "platform/com/bstr.h"
#include "platform/com/error_info.h"

namespace database {

HRESULT Fail(REFCLSID source, const std::string& message, HRESULT result) {
  const Bstr description = Bstr::Attach(AllocBstrFromUtf8(message));
  return SetErrorInfoForClass(source, description.Get() != nullptr ? description.Get() : u"",
                              GUID_NULL, result);
}

}  // namespace database
