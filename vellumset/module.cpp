#include "vellumset/module.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/automation/type_library_file.h"
#include "platform/server/class_script.h"
#include "vellumset/dictionary.h"
#include "vellumset/images.h"
#include "vellumset/interfaces.h"
#include "vellumset/module_lock.h"
#include "vellumset/type_library.h"

namespace vellumset {

namespace {

// The registry scripts, by resource id. Image, EnumImages and ImagesCollection are only
// ever made by an Images collection, so no row of the object map applies their scripts.
std::string_view RegistryScript(UINT id) {
  constexpr const GUID* libid = &LIBID_VELLUMSETLib;
  static const std::string scripts[] = {
      ClassRegistryScript({"Quillmark.Images", "Images Class", CLSID_Images, "Free", libid}),
      ClassRegistryScript(
          {"VellumSet.Dictionary", "Dictionary Class", CLSID_Dictionary, "Free", libid}),
      ClassRegistryScript({"VellumSet.Image", "Image Class", CLSID_Image, "Free", libid}),
      ClassRegistryScript(
          {"VellumSet.EnumImages", "EnumImages Class", CLSID_EnumImages, "Free", libid}),
      ClassRegistryScript({"VellumSet.ImagesCollection", "ImagesCollection Class",
                           CLSID_ImagesCollection, "Free", libid}),
  };
  if (id < kImagesRegistryScript || id > kImagesCollectionRegistryScript) return {};
  return scripts[id - kImagesRegistryScript];
}

// Aggregation is refused unless the outer object asks for IUnknown (the class factory
// checks that before it calls here).
const ObjectMapEntry kObjectMap[] = {
    {&CLSID_Images, kImagesRegistryScript, &CreateComObject<Images>, nullptr},
    {&CLSID_Dictionary, kDictionaryRegistryScript, &CreateComObject<Dictionary>, nullptr},
};

// The module's registry scripts and type library; empty for any other resource.
std::string_view FindResource(LPCSTR type, UINT id) {
  if (std::strcmp(type, kRegistryResource) == 0) return RegistryScript(id);
  if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    static const std::string library = automation::SerializeTypeLibrary(*VellumSetLibrary());
    return library;
  }
  return {};
}

// Constructed when the module is loaded and destroyed when it is unloaded.
ServerModule g_module(kObjectMap, LIBID_VELLUMSETLib, &VelrtModuleResource, ModuleLocks());

}  // namespace

ServerModule& Module() { return g_module; }

}  // namespace vellumset

SERVER_MODULE_ENTRIES(vellumset::Module(), vellumset::FindResource)
