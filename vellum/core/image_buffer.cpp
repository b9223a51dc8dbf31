#include "vellum/core/image_buffer.h"

#include "platform/policy/pixel_limit.h"

namespace vellum {

bool CheckPixelLimit(OpContext& ctx, uint64_t width, uint64_t height) {
  const uint64_t limit = policy::MaxImagePixels();
  if (limit == 0) return true;
  uint64_t pixels = 0;
  const bool overflow = __builtin_mul_overflow(width, height, &pixels);
  return (!overflow && pixels <= limit) || ctx.Fail(kErrPixelLimit);
}

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
