// What the Easel's editing methods share beyond the object's own helpers: colour
// checks, result blocks, and running one imaging-core operation.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/kernel/last_error.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"
#include "vellum/easel.h"

namespace vellum {

// A colour value 0x00BBGGRR; anything above 0xFFFFFF (negative values included) is not.
inline bool IsColorValue(LONG value) { return static_cast<uint32_t>(value) <= 0xFFFFFF; }

// A movable block for a width x height RGB result. When it cannot be had, raises "Not
// enough memory to perform the operation" without appending it to ErrorDescription.
GlobalBlock AllocateRgbResult(uint64_t width, uint64_t height);

// The size CreateThumbnail(width, height, ..., keepProportions) gives an image of
// currentWidth x currentHeight: the box it covers, fitted as ResizeImage fits it.
std::pair<LONG, LONG> ThumbnailSize(uint32_t currentWidth, int32_t currentHeight, LONG width,
                                    LONG height, bool keepProportions);

// Runs one imaging-core operation; a failure is reported as "Operation failed" with
// the system error the operation set, its core error and E_FAIL.
template <typename Operation>
void RunOperation(Easel& easel, Operation&& operation) {
  SetLastError(NO_ERROR);  // an earlier call's system error is not this failure's
  if (!operation()) {
    easel.ReportFailure(u"Operation failed", GetLastError(), CoreLastError(), E_FAIL);
  }
}

}  // namespace vellum
