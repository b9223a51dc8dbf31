#include "vellum/module.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/automation/type_library_file.h"
#include "platform/server/class_script.h"
#include "vellum/core/entry_frame.h"
#include "vellum/easel.h"
#include "vellum/ez_font.h"
#include "vellum/interfaces.h"
#include "vellum/module_lock.h"
#include "vellum/type_library.h"

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

// The module's registry scripts and type library; empty for any other resource.
std::string_view FindResource(LPCSTR type, UINT id) {
  if (std::strcmp(type, kRegistryResource) == 0 && id == kEaselRegistryScript) {
    return EaselScript();
  }
  if (std::strcmp(type, kRegistryResource) == 0 && id == kFontRegistryScript) return FontScript();
  if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    static const std::string library = automation::SerializeTypeLibrary(*VellumLibrary());
    return library;
  }
  return {};
}

// Constructed when the module is loaded and destroyed when it is unloaded.
ServerModule g_module(kObjectMap, LIBID_VELLUMLib, &VelrtModuleResource, ModuleLocks());

}  // namespace

ServerModule& Module() { return g_module; }

}  // namespace vellum

SERVER_MODULE_ENTRIES(vellum::Module(), vellum::FindResource)
