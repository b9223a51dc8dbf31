// LoadImage from a byte array of any content, turning it upright or not; when an image
// was read, SaveImage to a byte array in the format, colour resolution and selection
// method the first byte of the input picks. Both must end in an HRESULT with the object
// intact.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_limits.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "vellum/easel.h"

namespace {

constexpr LONG kResolutions[] = {24, 8, 4, 1};
constexpr vellum::EZImageFormat kFormats[] = {vellum::eziBMP,  vellum::eziGIF, vellum::eziJPG,
                                              vellum::eziPNG,  vellum::eziPCX, vellum::eziTIFF,
                                              vellum::eziWMF,  vellum::eziEMF, vellum::eziPSD,
                                              vellum::eziWEBP, vellum::eziAVIF};
constexpr int kFormatCount = sizeof kFormats / sizeof kFormats[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz_support::UseFuzzPixelLimit();
  const uint8_t choice = data[0];
  ComPtr<vellum::IEasel> easel;
  if (FAILED(CreateComObject<vellum::Easel>(nullptr, vellum::IID_IEasel, easel.ReceiveVoid()))) {
    return 0;
  }
  easel->put_AutoOrient(choice / (kFormatCount * 12) % 2 != 0 ? VARIANT_TRUE : VARIANT_FALSE);
  Variant bytes;
  bytes.parray = MakeByteVector(data + 1, static_cast<ULONG>(size - 1));
  bytes.vt = VT_ARRAY | VT_UI1;
  if (easel->LoadImage(bytes) != S_OK) return 0;
  LONG width = 0;
  LONG height = 0;
  easel->get_Width(&width);
  easel->get_Height(&height);
  fuzz_support::CheckWithinLimit(width, height);
  easel->put_ColorResolution(
      static_cast<vellum::EZImageColorResolution>(kResolutions[choice / kFormatCount % 4]));
  easel->put_ColorAdjustmentAlgorithm(
      static_cast<vellum::EZIImageColorSelectMethod>(choice / (kFormatCount * 4) % 3));
  Variant saved;
  const vellum::EZImageFormat format = kFormats[choice % kFormatCount];
  if (easel->SaveImage(vellum::eziMemory, format, Variant(), &saved) == S_OK &&
      (saved.vt != (VT_ARRAY | VT_UI1) || SafeArrayElementCount(saved.parray) == 0)) {
    __builtin_trap();  // a save reported as done must have produced bytes
  }
  LONG after = 0;
  easel->get_Width(&after);
  if (after != width) __builtin_trap();  // saving never changes the working image
  return 0;
}
