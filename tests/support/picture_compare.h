// Comparing pictures rendered by different engines: positions may differ by a
// pixel and edge colours by anti-aliasing, so pixels are matched within a small
// neighbourhood and a colour tolerance.
#pragma once

#include <string>

#include "tests/support/oracle.h"

namespace testing_support {

// A file of the source tree, and one under its tests/data.
std::string SourcePath(const std::string& relative);
std::string TestDataPath(const std::string& relative);

// Nearest-neighbour resampling to another size.
RawImage ResizeNearest(const RawImage& image, int width, int height);

// The share of pixels of `a` that `b` explains: a pixel of `b` at most `radius`
// away, or a blend of two such pixels (an anti-aliased edge), has every channel
// within `tolerance`. Both have the same size.
double NeighbourhoodMatch(const RawImage& a, const RawImage& b, int radius, int tolerance);

}  // namespace testing_support
