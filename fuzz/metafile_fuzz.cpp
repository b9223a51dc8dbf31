// Reads the input as an enhanced metafile, or as a Windows metafile with or
// without a placeable header, then renders it at its natural size (or, when the
// pixel limit refuses that size, plays it onto a small bitmap) and converts it back
// to a Windows metafile: every path must end cleanly, within bounded memory and
// time, and release everything it made.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/global_memory.h"
#include "platform/policy/pixel_limit.h"
#include "vellum/core/metafile.h"

using namespace vellum;

namespace {

// The renderer refuses natural sizes above this; such pictures are played onto a
// small bitmap instead (playback is bounded, but large pictures slow the search down).
constexpr uint64_t kMaxRenderPixels = 256 * 256;

HENHMETAFILE Open(const uint8_t* data, size_t size) {
  if (HENHMETAFILE emf = SetEnhMetaFileBits(static_cast<UINT>(size), data)) return emf;
  METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
  uint32_t key = 0;
  if (size >= 4) std::memcpy(&key, data, 4);
  if (key == kPlaceableKey && size >= kPlaceableHeaderSize) {
    const SIZE extents = PlaceableHeaderExtents(data);
    picture.xExt = extents.cx, picture.yExt = extents.cy;
    data += kPlaceableHeaderSize, size -= kPlaceableHeaderSize;
  }
  return SetWinMetaFileBits(static_cast<UINT>(size), data, GetDC(nullptr), &picture);
}

void PlaySmall(HENHMETAFILE emf) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 64, 48);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  const RECT area{0, 0, 64, 48};
  PlayEnhMetaFile(memory, emf, &area);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  static const bool limited = (policy::SetMaxImagePixels(kMaxRenderPixels), true);
  (void)limited;
  HENHMETAFILE emf = Open(data, size);
  if (emf == nullptr) return 0;
  OpContext ctx;
  int32_t width = 0, height = 0;
  if (HGLOBAL rgb = RenderEnhMetaFile(ctx, emf, &width, &height, 0xFFFFFF)) {
    if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kMaxRenderPixels) {
      __builtin_trap();
    }
    GlobalFree(rgb);
  } else if (ctx.code == kErrPixelLimit) {
    PlaySmall(emf);
  }
  const UINT wmfSize = GetWinMetaFileBits(emf, 0, nullptr, MM_ANISOTROPIC, nullptr);
  if (wmfSize != 0 && wmfSize < (1u << 24)) {
    std::vector<uint8_t> wmf(wmfSize);
    GetWinMetaFileBits(emf, wmfSize, wmf.data(), MM_ANISOTROPIC, nullptr);
  }
  DeleteEnhMetaFile(emf);
  return 0;
}
