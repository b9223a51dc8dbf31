// The fixed 256-colour palette that the best-fit colour reductions map onto.
#pragma once

#include "vellum/core/conversions.h"

namespace vellum {

// Entries 0 to 15: sixteen fixed colours; 16 to 231: the 6 x 6 x 6 cube of the
// levels 0, 51, ..., 255 with red varying slowest; 232 to 255: black. Reserved
// bytes are 0. A 16-colour reduction uses entries 0 to 15 only.
Palette MakeDefaultPalette();

}  // namespace vellum
