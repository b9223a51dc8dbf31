// A small picture from the input saved in every format to a byte array under settings
// the input puts, odd ones included. Whatever settings the object accepted, every save
// must succeed, leave the working image alone, and give bytes the object reads back
// at the same size: a file this object writes is one it can read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "vellum/easel.h"

namespace {

// Puts every setting the save path reads, with values from the input; the object may
// refuse any of them.
void PutSettings(FuzzedDataProvider& in, vellum::IEasel& easel) {
  using namespace vellum;
  easel.put_ImageQuality(in.ConsumeIntegral<SHORT>());
  easel.put_JPEGProgressive(in.ConsumeIntegral<LONG>());
  easel.put_ColorResolution(static_cast<EZImageColorResolution>(
      in.ConsumeBool() ? in.PickValueInArray({1, 4, 8, 24}) : in.ConsumeIntegral<int32_t>()));
  easel.put_ColorAdjustmentAlgorithm(
      static_cast<EZIImageColorSelectMethod>(in.ConsumeIntegralInRange<int32_t>(-3, 5)));
  easel.put_TransparentColor(in.ConsumeIntegral<LONG>());
  easel.put_DPIx(in.ConsumeIntegral<SHORT>());
  easel.put_DPIy(in.ConsumeIntegral<SHORT>());
  easel.put_DPIUnits(static_cast<EZIDPIUnits>(in.ConsumeIntegralInRange<int32_t>(-2, 6)));
  easel.put_TiffPage(in.ConsumeIntegral<LONG>());
}

// A picture of width x height whose pixels come from the input (repeated when short).
bool InstallPicture(FuzzedDataProvider& in, vellum::IEasel& easel, LONG* width, LONG* height) {
  *width = in.ConsumeIntegralInRange<LONG>(1, 48);
  *height = in.ConsumeIntegralInRange<LONG>(1, 48);
  if (easel.CreateImage(*width, *height, in.ConsumeIntegralInRange<LONG>(0, 0xFFFFFF)) != S_OK) {
    return false;
  }
  const std::vector<uint8_t> ink = in.ConsumeBytes<uint8_t>(64);
  for (size_t i = 0; i + 3 < ink.size(); i += 4) {
    easel.FillRectInImage(ink[i] % *width, ink[i + 1] % *height, 1 + ink[i + 2] % 8,
                          1 + ink[i + 3] % 8, ink[i] << 16 | ink[i + 2] << 8 | ink[i + 3]);
  }
  return true;
}

ComPtr<vellum::IEasel> NewEasel() {
  ComPtr<vellum::IEasel> easel;
  CreateComObject<vellum::Easel>(nullptr, vellum::IID_IEasel, easel.ReceiveVoid());
  return easel;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::UseFuzzPixelLimit();
  FuzzedDataProvider in(data, size);
  ComPtr<vellum::IEasel> easel = NewEasel();
  LONG width = 0, height = 0;
  if (!easel || !InstallPicture(in, *easel.Get(), &width, &height)) return 0;
  PutSettings(in, *easel.Get());
  for (int format = 1; format <= 9; ++format) {
    Variant saved;
    if (easel->SaveImage(vellum::eziMemory, static_cast<vellum::EZImageFormat>(format), Variant(),
                         &saved) != S_OK ||
        saved.vt != (VT_ARRAY | VT_UI1) || SafeArrayElementCount(saved.parray) == 0) {
      __builtin_trap();  // accepted settings must not make a save fail
    }
    LONG after = 0;
    easel->get_Width(&after);
    if (after != width) __builtin_trap();  // saving never changes the working image
    ComPtr<vellum::IEasel> reader = NewEasel();
    LONG readWidth = 0, readHeight = 0;
    if (!reader || reader->LoadImage(saved) != S_OK || reader->get_Width(&readWidth) != S_OK ||
        reader->get_Height(&readHeight) != S_OK || readWidth != width || readHeight != height) {
      __builtin_trap();  // what the object wrote, it reads back
    }
  }
  return 0;
}
