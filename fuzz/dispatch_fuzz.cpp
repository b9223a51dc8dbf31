// Drives IDispatch on Easel and EZFont objects with calls decoded from the input:
// any member or DISPID, any flags, any number of well-formed but awkward arguments
// (references to references, self-references, null objects and strings, huge strings,
// type codes the layer does not know), named arguments, and VariantChangeType to any
// type. Invoke must answer every call with an HRESULT.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "vellum/interfaces.h"
#include "vellum/module.h"

namespace {

constexpr size_t kMaxArguments = 8;

// Builds argument `slot` of `arguments` (reserved, so earlier slots stay in place).
void MakeArgument(FuzzInput& in, std::vector<Variant>& arguments, IDispatch* self, LONG* cell) {
  Variant& value = arguments.emplace_back();
  switch (in.Byte() % 12) {
    case 0:
      break;  // VT_EMPTY
    case 1:
      value.vt = VT_I4;
      value.lVal = static_cast<LONG>(in.Long());
      break;
    case 2: {
      value.vt = VT_R8;
      const uint64_t high = in.Long();
      const uint64_t bits = high << 32 | in.Long();
      std::memcpy(&value.dblVal, &bits, sizeof bits);
      break;
    }
    case 3: {
      const size_t length = in.Byte();
      std::u16string text;
      for (size_t i = 0; i < length && in.More(); ++i) text += static_cast<char16_t>(in.Word());
      value = Variant::String(text);
      break;
    }
    case 4:
      value = Variant::String(std::u16string(static_cast<size_t>(in.Word()) * 16, u'7'));
      break;
    case 5:
      value.vt = VT_BOOL;
      value.boolVal = static_cast<VARIANT_BOOL>(in.Word());
      break;
    case 6:
      value = Variant::Missing();
      break;
    case 7:
      value.vt = VT_DISPATCH;
      value.pdispVal = in.Byte() & 1 ? self : nullptr;
      if (value.pdispVal != nullptr) self->AddRef();
      break;
    case 8:
      value.vt = VT_BYREF | VT_I4;
      value.plVal = in.Byte() & 1 ? cell : nullptr;
      break;
    case 9: {
      // A reference to any argument made so far, itself included.
      value.vt = VT_BYREF | VT_VARIANT;
      value.pvarVal = &arguments[in.Byte() % arguments.size()];
      break;
    }
    case 10:
      value.vt = VT_ARRAY | VT_UI1;
      value.parray = SafeArrayCreateVector(VT_UI1, 0, in.Byte());
      break;
    default:
      // Any type code with an empty payload, known to the layer or not.
      value.vt = in.Word();
      if ((value.vt & VT_BYREF) == 0 && IsKnownVariantType(value.vt)) break;
      value.vt = VT_DECIMAL;
      break;
  }
}

// The Easel's SaveImage (DISPID 2) would write files wherever a fuzzed name points;
// the save paths are fuzzed by load_save_fuzz instead.
constexpr DISPID kSaveImage = 2;

void Call(FuzzInput& in, IDispatch* object, IDispatch* self, bool isEasel) {
  const DISPID id = static_cast<int8_t>(in.Byte());
  if (isEasel && id == kSaveImage) return;
  const WORD flags = in.Byte() & 0x1F;
  const size_t count = in.Byte() % (kMaxArguments + 1);
  std::vector<Variant> arguments;
  arguments.reserve(kMaxArguments);
  LONG cell = static_cast<LONG>(in.Long());
  for (size_t k = 0; k < count; ++k) MakeArgument(in, arguments, self, &cell);
  DISPID named[2] = {DISPID_PROPERTYPUT, static_cast<int8_t>(in.Byte())};
  const UINT namedCount = count == 0 ? 0 : in.Byte() % (count < 2 ? 2 : 3);
  DISPPARAMS params = {arguments.empty() ? nullptr : arguments.data(), named,
                       static_cast<UINT>(count), namedCount};
  Variant result;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  object->Invoke(id, IID_NULL, 0, flags, &params, &result, &exception, &argumentError);
  ClearExcepInfo(&exception);
}

void ChangeType(FuzzInput& in, IDispatch* self) {
  std::vector<Variant> source;
  source.reserve(1);
  LONG cell = static_cast<LONG>(in.Long());
  MakeArgument(in, source, self, &cell);
  Variant target;
  const USHORT flags = in.Byte() & 3;
  const VARTYPE type = in.Word();
  VariantChangeType(&target, &source[0], flags, type);
  VariantChangeType(&source[0], &source[0], 0, in.Word());  // in place
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
  FuzzInput in{data, size};
  ComPtr<IDispatch> easel = Create(vellum::CLSID_Easel);
  ComPtr<IDispatch> font = Create(vellum::CLSID_EZFont);
  for (int step = 0; step < 32 && in.More(); ++step) {
    switch (in.Byte() % 3) {
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
