#include "vellum/core/image_buffer.h"

namespace vellum {

GlobalBlock AllocateImageBuffer(OpContext& ctx, uint64_t bytes, bool zeroInit) {
  if (bytes > kMaxImageBufferBytes) {
    ctx.Fail(kErrNoMemory);
    return {};
  }
  GlobalBlock block(GlobalAlloc(zeroInit ? GPTR : GMEM_FIXED, static_cast<SIZE_T>(bytes)));
  if (!block) ctx.Fail(kErrNoMemory);
  return block;
}

}  // namespace vellum
