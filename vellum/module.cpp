#include "vellum/module.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/automation/type_library_file.h"
#include "platform/server/class_script.h"
#include "vellum/core/library.h"
#include "vellum/easel.h"
#include "vellum/ez_font.h"
#include "vellum/interfaces.h"
#include "vellum/library_description.h"

namespace vellum {

namespace {

const std::string& EaselScript() {
  static const std::string script =
      ClassRegistryScript({"Quillmark.Easel", "Easel Class", CLSID_Easel, "both"});
  return script;
}

const std::string& FontScript() {
  static const std::string script =
      ClassRegistryScript({"Vellum.EZFont", "EZFont Class", CLSID_EZFont, "both"});
  return script;
}

// Reserves the imaging core's thread-local slot when the module loads, rather than
// on the first image operation. The core has no call that only reserves it, so this
// also makes the loading thread's record. A failure here is left for the first use
// to raise again.
void StartImagingCore(bool starting) {
  if (!starting) return;
  try {
    CurrentThreadRecord();
  } catch (const TlsException&) {
  }
}

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_Easel, kEaselRegistryScript, &CreateComObject<Easel>, &StartImagingCore},
    {&CLSID_EZFont, kFontRegistryScript, &CreateComObject<EZFont>, nullptr},
};

}  // namespace

}  // namespace vellum

SERVER_MODULE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data,
                                              DWORD* size) {
  if (type == nullptr || data == nullptr || size == nullptr) return FALSE;
  std::string_view found;
  if (std::strcmp(type, kRegistryResource) == 0 && id == vellum::kEaselRegistryScript) {
    found = vellum::EaselScript();
  } else if (std::strcmp(type, kRegistryResource) == 0 && id == vellum::kFontRegistryScript) {
    found = vellum::FontScript();
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

SERVER_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return vellum::Module().GetClassObject(clsid, iid, object);
}

SERVER_MODULE_EXPORT HRESULT DllCanUnloadNow() { return vellum::Module().CanUnloadNow(); }

SERVER_MODULE_EXPORT HRESULT DllRegisterServer() { return vellum::Module().RegisterServer(); }

SERVER_MODULE_EXPORT HRESULT DllUnregisterServer() { return vellum::Module().UnregisterServer(); }
