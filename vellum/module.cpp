#include "vellum/module.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/automation/type_library_file.h"
#include "vellum/easel.h"
#include "vellum/ez_font.h"
#include "vellum/interfaces.h"
#include "vellum/library_description.h"

namespace vellum {

namespace {

constexpr std::string_view kEaselScript = R"(HKCR
{
	Quillmark.Easel.1 = s 'Easel Class'
	{
		CLSID = s '{6FB20839-CEF6-423D-A1D9-6C4758995FE7}'
	}
	Quillmark.Easel = s 'Easel Class'
	{
		CLSID = s '{6FB20839-CEF6-423D-A1D9-6C4758995FE7}'
	}
	NoRemove CLSID
	{
		ForceRemove {6FB20839-CEF6-423D-A1D9-6C4758995FE7} = s 'Easel Class'
		{
			ProgID = s 'Quillmark.Easel.1'
			VersionIndependentProgID = s 'Quillmark.Easel'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
		}
	}
}
)";

constexpr std::string_view kFontScript = R"(HKCR
{
	Vellum.EZFont.1 = s 'EZFont Class'
	{
		CLSID = s '{06655AC4-A21A-4655-B0CC-0FCD91323F48}'
	}
	Vellum.EZFont = s 'EZFont Class'
	{
		CLSID = s '{06655AC4-A21A-4655-B0CC-0FCD91323F48}'
	}
	NoRemove CLSID
	{
		ForceRemove {06655AC4-A21A-4655-B0CC-0FCD91323F48} = s 'EZFont Class'
		{
			ProgID = s 'Vellum.EZFont.1'
			VersionIndependentProgID = s 'Vellum.EZFont'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'both'
			}
		}
	}
}
)";

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_Easel, kEaselRegistryScript, &CreateComObject<Easel>, nullptr},
    {&CLSID_EZFont, kFontRegistryScript, &CreateComObject<EZFont>, nullptr},
};

}  // namespace

}  // namespace vellum

VELLUM_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data, DWORD* size) {
  if (type == nullptr || data == nullptr || size == nullptr) return FALSE;
  std::string_view found;
  if (std::strcmp(type, kRegistryResource) == 0 && id == vellum::kEaselRegistryScript) {
    found = vellum::kEaselScript;
  } else if (std::strcmp(type, kRegistryResource) == 0 && id == vellum::kFontRegistryScript) {
    found = vellum::kFontScript;
  } else if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    static const std::string library = automation::SerializeTypeLibrary(*vellum::VellumLibrary());
    found = library;
  } else {
    return FALSE;
  }
  *data = found.data();
  *size = static_cast<DWORD>(found.size());
  return TRUE;
}

namespace vellum {

namespace {

// Constructed when the module is loaded and destroyed when it is unloaded.
ServerModule g_module(kObjectMap, LIBID_VELLUMLib, &VelrtModuleResource);

}  // namespace

ServerModule& Module() { return g_module; }

}  // namespace vellum

VELLUM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return vellum::Module().GetClassObject(clsid, iid, object);
}

VELLUM_EXPORT HRESULT DllCanUnloadNow() { return vellum::Module().CanUnloadNow(); }

VELLUM_EXPORT HRESULT DllRegisterServer() { return vellum::Module().RegisterServer(); }

VELLUM_EXPORT HRESULT DllUnregisterServer() { return vellum::Module().UnregisterServer(); }
