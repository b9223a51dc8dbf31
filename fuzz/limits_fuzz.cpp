// Loads the input as an image twice: under the fuzzing limit, then under a smaller
// limit the input picks. The smaller limit must refuse exactly the images above it,
// with the limit named, and change nothing else about the ones it lets through.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "platform/policy/pixel_limit.h"
#include "vellum/easel.h"

namespace {

struct Loaded {
  bool ok = false;
  LONG width = 0;
  LONG height = 0;
  std::u16string errors;
};

Loaded Load(const std::vector<uint8_t>& bytes) {
  Loaded loaded;
  ComPtr<vellum::IEasel> easel;
  if (FAILED(CreateComObject<vellum::Easel>(nullptr, vellum::IID_IEasel, easel.ReceiveVoid()))) {
    return loaded;
  }
  Variant image;
  image.parray = MakeByteVector(bytes.data(), static_cast<ULONG>(bytes.size()));
  image.vt = VT_ARRAY | VT_UI1;
  loaded.ok = easel->LoadImage(image) == S_OK;
  easel->get_Width(&loaded.width);
  easel->get_Height(&loaded.height);
  Bstr errors;
  easel->get_ErrorDescription(errors.Receive());
  loaded.errors = errors.View();
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint64_t limit = in.ConsumeIntegralInRange<uint64_t>(1, fuzz_support::kFuzzPixelLimit);
  const std::vector<uint8_t> bytes = in.ConsumeRemainingBytes<uint8_t>();
  if (bytes.empty()) return 0;
  policy::SetMaxImagePixels(fuzz_support::kFuzzPixelLimit);
  const Loaded wide = Load(bytes);
  policy::SetMaxImagePixels(limit);
  const Loaded narrow = Load(bytes);
  const bool named = narrow.errors.find(u"The limit is " + [&] {
    const std::string digits = std::to_string(limit);
    return std::u16string(digits.begin(), digits.end());
  }()) != std::u16string::npos;
  if (narrow.ok && uint64_t(narrow.width) * uint64_t(narrow.height) > limit) __builtin_trap();
  if (wide.ok) {
    const bool within = uint64_t(wide.width) * uint64_t(wide.height) <= limit;
    if (within && (!narrow.ok || narrow.width != wide.width || narrow.height != wide.height)) {
      __builtin_trap();  // refused, or changed, though within the limit
    }
    if (!within && (narrow.ok || !named)) __builtin_trap();  // let through, or not said
  } else if (narrow.ok) {
    __builtin_trap();  // a smaller limit cannot make an image readable
  }
  return 0;
}
