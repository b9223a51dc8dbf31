// Drives IDispatch on Easel and EZFont objects with calls decoded from the input:
// any member or DISPID, any flags, any number of well-formed but awkward arguments
// (references to references, self-references, null objects and strings, huge strings,
// type codes the layer does not know), named arguments, and VariantChangeType to any
// type. Invoke must answer every call with an HRESULT.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "vellum/interfaces.h"
#include "vellum/module.h"

namespace {

constexpr size_t kMaxArguments = 8;

// Builds argument `slot` of `arguments` (reserved, so earlier slots stay in place).
void MakeArgument(FuzzedDataProvider& in, std::vector<Variant>& arguments, IDispatch* self,
                  LONG* cell) {
  Variant& value = arguments.emplace_back();
  switch (in.ConsumeIntegral<uint8_t>() % 12) {
    case 0:
      break;  // VT_EMPTY
    case 1:
      value.vt = VT_I4;
      value.lVal = static_cast<LONG>(in.ConsumeIntegral<uint32_t>());
      break;
    case 2: {
      value.vt = VT_R8;
      const uint64_t high = in.ConsumeIntegral<uint32_t>();
      const uint64_t bits = high << 32 | in.ConsumeIntegral<uint32_t>();
      std::memcpy(&value.dblVal, &bits, sizeof bits);
      break;
    }
    case 3: {
      const size_t length = in.ConsumeIntegral<uint8_t>();
      std::u16string text;
      for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i)
        text += static_cast<char16_t>(in.ConsumeIntegral<uint16_t>());
      value = Variant::String(text);
      break;
    }
    case 4:
      value = Variant::String(
          std::u16string(static_cast<size_t>(in.ConsumeIntegral<uint16_t>()) * 16, u'7'));
      break;
    case 5:
      value.vt = VT_BOOL;
      value.boolVal = static_cast<VARIANT_BOOL>(in.ConsumeIntegral<uint16_t>());
      break;
    case 6:
      value = Variant::Missing();
      break;
    case 7:
      value.vt = VT_DISPATCH;
      value.pdispVal = in.ConsumeIntegral<uint8_t>() & 1 ? self : nullptr;
      if (value.pdispVal != nullptr) self->AddRef();
      break;
    case 8:
      value.vt = VT_BYREF | VT_I4;
      value.plVal = in.ConsumeIntegral<uint8_t>() & 1 ? cell : nullptr;
      break;
    case 9: {
      // A reference to any argument made so far, itself included.
      value.vt = VT_BYREF | VT_VARIANT;
      value.pvarVal = &arguments[in.ConsumeIntegral<uint8_t>() % arguments.size()];
      break;
    }
    case 10:
      value.vt = VT_ARRAY | VT_UI1;
      value.parray = SafeArrayCreateVector(VT_UI1, 0, in.ConsumeIntegral<uint8_t>());
      break;
    default:
      // Any type code with an empty payload, known to the layer or not.
      value.vt = in.ConsumeIntegral<uint16_t>();
      if ((value.vt & VT_BYREF) == 0 && IsKnownVariantType(value.vt)) break;
      value.vt = VT_DECIMAL;
      break;
  }
}

// The Easel's SaveImage (DISPID 2) would write files wherever a fuzzed name points;
// the save paths are fuzzed by load_save_fuzz instead.
constexpr DISPID kSaveImage = 2;

void Call(FuzzedDataProvider& in, IDispatch* object, IDispatch* self, bool isEasel) {
  const DISPID id = static_cast<int8_t>(in.ConsumeIntegral<uint8_t>());
  if (isEasel && id == kSaveImage) return;
  const WORD flags = in.ConsumeIntegral<uint8_t>() & 0x1F;
  const size_t count = in.ConsumeIntegral<uint8_t>() % (kMaxArguments + 1);
  std::vector<Variant> arguments;
  arguments.reserve(kMaxArguments);
  LONG cell = static_cast<LONG>(in.ConsumeIntegral<uint32_t>());
  for (size_t k = 0; k < count; ++k) MakeArgument(in, arguments, self, &cell);
  DISPID named[2] = {DISPID_PROPERTYPUT, static_cast<int8_t>(in.ConsumeIntegral<uint8_t>())};
  const UINT namedCount = count == 0 ? 0 : in.ConsumeIntegral<uint8_t>() % (count < 2 ? 2 : 3);
  DISPPARAMS params = {arguments.empty() ? nullptr : arguments.data(), named,
                       static_cast<UINT>(count), namedCount};
  Variant result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  object->Invoke(id, IID_NULL, 0, flags, &params, &result, &exception, &argumentError);
  ClearExcepInfo(&exception);
}

void ChangeType(FuzzedDataProvider& in, IDispatch* self) {
  std::vector<Variant> source;
  source.reserve(1);
  LONG cell = static_cast<LONG>(in.ConsumeIntegral<uint32_t>());
  MakeArgument(in, source, self, &cell);
  Variant target;
  const USHORT flags = in.ConsumeIntegral<uint8_t>() & 3;
  const VARTYPE type = in.ConsumeIntegral<uint16_t>();
  VariantChangeType(&target, &source[0], flags, type);
  VariantChangeType(&source[0], &source[0], 0, in.ConsumeIntegral<uint16_t>());  // in place
}

ComPtr<IDispatch> Create(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<IDispatch> object;
  if (SUCCEEDED(DllGetClassObject(clsid, IID_IClassFactory, factory.ReceiveVoid()))) {
    factory->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid());
  }
  return object;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ComPtr<IDispatch> easel = Create(vellum::CLSID_Easel);
  ComPtr<IDispatch> font = Create(vellum::CLSID_EZFont);
  for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
    switch (in.ConsumeIntegral<uint8_t>() % 3) {
      case 0:
        Call(in, easel.Get(), font.Get(), true);
        break;
      case 1:
        Call(in, font.Get(), easel.Get(), false);
        break;
      default:
        ChangeType(in, easel.Get());
        break;
    }
  }
  return 0;
}
