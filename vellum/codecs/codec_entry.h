// The shape that the reading and writing entries of the codecs share.
#pragma once

#include <cstdint>

#include "platform/kernel/win_types.h"
#include "vellum/codecs/entry_checks.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

struct ImageSize {
  uint32_t width = 0;
  uint32_t height = 0;
};

// A reading entry: code 5 for a null handle or size pointer or when
// `argumentsValid` is false, code 38 for an invalid handle. `decode(ctx, size)`
// returns the RGB buffer (empty, with the code set, on failure); width and
// height are reported only when it succeeds.
template <typename Decode>
HGLOBAL RunReadEntry(DataHandle* source, int32_t* width, int32_t* height, bool argumentsValid,
                     Decode decode) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckSourceAndOutputs(ctx, source, width, height)) return nullptr;
    if (!argumentsValid) {
      ctx.Fail(kErrInvalidArgument);
      return nullptr;
    }
    ImageSize size;
    GlobalBlock rgb = decode(ctx, size);
    if (!rgb) return nullptr;
    *width = static_cast<int32_t>(size.width);
    *height = static_cast<int32_t>(size.height);
    return rgb.Release();
  });
}

// A writing entry: code 5 for a null handle or when `valid()` refuses the
// arguments, code 38 for an invalid handle, code 4 when `write()` fails. Returns
// the destination's size after writing, or 0.
template <typename Valid, typename Write>
uint32_t RunWriteEntry(DataHandle* destination, Valid valid, Write write) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (!valid()) return ctx.Fail(kErrInvalidArgument);
    if (!write()) return ctx.Fail(kErrWriteFile);
    return DataSize(destination);
  });
}

}  // namespace vellum
