// A small in-process server for the runtime tests: one class, "Vellum.SampleCounter",
// with a dual interface described as data, error information, an aggregated
// free-threaded marshaler, its registry script and its type library, on the same
// module machinery as the real servers.
#include "tests/runtime/sample_server/sample_server.h"

#include <cstring>
#include <string_view>

#include "platform/automation/binding.h"
#include "platform/automation/dispatch.h"
#include "platform/automation/type_library_file.h"
#include "platform/com/activation.h"
#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "platform/server/server_module.h"

#define SAMPLE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::string_view kScript = R"(HKCR
{
	Vellum.SampleCounter = s 'SampleCounter Class'
	{
		CLSID = s '{D8A1C4E2-5B37-4F0A-9C61-2E84B7F3A915}'
	}
	NoRemove CLSID
	{
		ForceRemove {D8A1C4E2-5B37-4F0A-9C61-2E84B7F3A915} = s 'SampleCounter Class'
		{
			ProgID = s 'Vellum.SampleCounter'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Free'
			}
		}
	}
}
)";

// The module's lock count, held by its objects and its ServerModule.
ModuleLockCount g_locks;

automation::MemberDesc Member(DISPID id, automation::MemberKind kind, std::string name,
                              std::vector<automation::ParamDesc> params,
                              automation::TypeDesc result, automation::Binding binding) {
  return {id, kind, std::move(name), std::move(params), std::move(result), {}, std::move(binding)};
}

automation::ParamDesc In(std::string name, automation::TypeDesc type) {
  return {std::move(name), std::move(type), false, {}};
}

std::shared_ptr<const automation::TypeLibraryDesc> Library() {
  using automation::Bind;
  using automation::kLongType;
  using automation::kNoValue;
  using automation::kVariantType;
  using Kind = automation::MemberKind;
  static const auto library = [] {
    automation::TypeLibraryDesc desc;
    desc.name = "SAMPLELib";
    desc.libid = LIBID_SampleLib;
    desc.help = "Sample 1.0 Type Library";
    desc.interfaces = {
        {"ICounter",
         IID_ICounter,
         "ICounter Interface",
         {
             Member(1, Kind::kGet, "Value", {}, kLongType, Bind<&ICounter::get_Value>()),
             Member(1, Kind::kPut, "Value", {In("newVal", kLongType)}, kNoValue,
                    Bind<&ICounter::put_Value>()),
             Member(2, Kind::kMethod, "Increment", {{"Step", kLongType, true, 1}}, kLongType,
                    Bind<&ICounter::Increment>()),
             Member(3, Kind::kMethod, "Fail", {In("Message", automation::kStringType)}, kNoValue,
                    Bind<&ICounter::Fail>()),
             Member(0, Kind::kGet, "Item", {In("Index", kLongType)}, kLongType,
                    Bind<&ICounter::get_Item>()),
             Member(0, Kind::kPut, "Item", {In("Index", kLongType), In("newVal", kLongType)},
                    kNoValue, Bind<&ICounter::put_Item>()),
             Member(4, Kind::kPut, "Key", {In("Index", kLongType), In("newVal", kLongType)},
                    kNoValue, Bind<&ICounter::put_Key>()),
             Member(5, Kind::kMethod, "Echo", {In("Value", kVariantType)}, kVariantType,
                    Bind<&ICounter::Echo>()),
             Member(6, Kind::kGet, "Numbers", {}, kVariantType, Bind<&ICounter::get_Numbers>()),
         }}};
    desc.classes = {{"SampleCounter", CLSID_SampleCounter, "SampleCounter Class", "ICounter"}};
    return automation::ShareLibrary(std::move(desc));
  }();
  return library;
}

const automation::BoundInterface& CounterInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(Library(), IID_ICounter);
  return bound;
}

class Counter final
    : public ComObject<DispatchImpl<ICounter, &CounterInterface>, SupportErrorInfoFor<ICounter>> {
 public:
  explicit Counter(IUnknown* outer) : ComObject(outer), lock_(g_locks) {}

  HRESULT FinalConstruct() {
    return CoCreateFreeThreadedMarshaler(ControllingUnknown(), marshaler_.Receive());
  }

  HRESULT get_Value(LONG* value) override {
    if (value == nullptr) return E_POINTER;
    *value = value_;
    return S_OK;
  }
  HRESULT put_Value(LONG value) override {
    value_ = value;
    return S_OK;
  }
  HRESULT Increment(LONG step, LONG* value) override {
    value_ += step;
    *value = value_;
    return S_OK;
  }
  HRESULT Fail(BSTR message) override {
    return SetErrorInfoForClass(CLSID_SampleCounter, message, IID_ICounter, E_FAIL);
  }
  // Ten slots; Item reads and writes them, Key writes them plus 1000.
  HRESULT get_Item(LONG index, LONG* value) override {
    if (index < 0 || index >= kSlots) return DISP_E_BADINDEX;
    *value = slots_[index];
    return S_OK;
  }
  HRESULT put_Item(LONG index, LONG value) override {
    if (index < 0 || index >= kSlots) return DISP_E_BADINDEX;
    slots_[index] = value;
    return S_OK;
  }
  HRESULT put_Key(LONG index, LONG value) override { return put_Item(index, value + 1000); }
  HRESULT Echo(VARIANT value, VARIANT* result) override { return VariantCopyInd(result, &value); }
  HRESULT get_Numbers(VARIANT* value) override {
    SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 1, 3);
    if (numbers == nullptr) return E_OUTOFMEMORY;
    for (LONG i = 0; i < 3; ++i) static_cast<LONG*>(numbers->pvData)[i] = (i + 1) * 11;
    value->vt = VT_ARRAY | VT_I4;
    value->parray = numbers;
    return S_OK;
  }

 private:
  void* FindOtherInterface(REFIID iid) override {
    return iid == IID_IMarshal ? FindAggregatedInterface(marshaler_.Get(), iid) : nullptr;
  }

  static constexpr LONG kSlots = 10;
  ModuleLockHolder lock_;
  ComPtr<IUnknown> marshaler_;
  LONG value_ = 0;
  LONG slots_[kSlots] = {};
};

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_SampleCounter, 101, &CreateComObject<Counter>, nullptr},
};

}  // namespace

SAMPLE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size) {
  static const std::string library = automation::SerializeTypeLibrary(*Library());
  std::string_view found;
  if (std::strcmp(type, kRegistryResource) == 0 && id == 101) {
    found = kScript;
  } else if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    found = library;
  } else {
    return FALSE;
  }
  *data = found.data();
  *size = static_cast<DWORD>(found.size());
  return TRUE;
}

namespace {

ServerModule g_module(kObjectMap, LIBID_SampleLib, &VelrtModuleResource, g_locks);

ServerModule& Module() { return g_module; }

}  // namespace

SAMPLE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return Module().GetClassObject(clsid, iid, object);
}
SAMPLE_EXPORT HRESULT DllCanUnloadNow() { return Module().CanUnloadNow(); }
SAMPLE_EXPORT HRESULT DllRegisterServer() { return Module().RegisterServer(); }
SAMPLE_EXPORT HRESULT DllUnregisterServer() { return Module().UnregisterServer(); }
