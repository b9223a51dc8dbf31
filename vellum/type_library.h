// VELLUMLib, the type library of the image generator, described once: it drives the
// IDispatch of Easel and EZFont and is serialised as the module's "TYPELIB" resource.
#pragma once

#include <memory>

#include "platform/automation/dispatch.h"

namespace vellum {

std::shared_ptr<const automation::TypeLibraryDesc> VellumLibrary();
const automation::BoundInterface& EaselInterface();
const automation::BoundInterface& EZFontInterface();

}  // namespace vellum
