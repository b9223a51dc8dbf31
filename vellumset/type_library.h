// VELLUMSETLib, the type library of the collection server, described once: it drives
// the IDispatch of Images, Image and Dictionary and is serialised as the module's
// "TYPELIB" resource.
#pragma once

#include <memory>

#include "platform/automation/dispatch.h"

namespace vellumset {

std::shared_ptr<const automation::TypeLibraryDesc> VellumSetLibrary();

}  // namespace vellumset
