// The database module: one creatable class, "Vellum.Database", registered like the
// servers (vellum-regsvr libvellumdb.so).
#include <cstring>
#include <string>

#include "platform/automation/type_library_file.h"
#include "platform/database/database_objects.h"
#include "platform/server/class_script.h"
#include "platform/server/module_exports.h"

namespace {

constexpr UINT kDatabaseRegistryScript = 101;

const ObjectMapEntry kObjectMap[] = {
    {&database::CLSID_Database, kDatabaseRegistryScript, &CreateComObject<database::Database>,
     nullptr},
};

}  // namespace

SERVER_MODULE_EXPORT BOOL VelrtModuleResource(LPCSTR type, UINT id, const void** data,
                                              DWORD* size) {
  if (type == nullptr || data == nullptr || size == nullptr) return FALSE;
  std::string_view found;
  if (std::strcmp(type, kRegistryResource) == 0 && id == kDatabaseRegistryScript) {
    static const std::string script =
        ClassRegistryScript({"Vellum.Database", "Database Class", database::CLSID_Database, "both",
                             &database::LIBID_VellumDatabaseLib});
    found = script;
  } else if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    static const std::string library =
        automation::SerializeTypeLibrary(*database::DatabaseLibrary());
    found = library;
  } else {
    return FALSE;
  }
  *data = found.data();
  *size = static_cast<DWORD>(found.size());
  return TRUE;
}

namespace database {

namespace {

// Constructed when the module is loaded and destroyed when it is unloaded.
ServerModule g_module(kObjectMap, LIBID_VellumDatabaseLib, &VelrtModuleResource);

}  // namespace

ServerModule& Module() { return g_module; }

}  // namespace database

SERVER_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return database::Module().GetClassObject(clsid, iid, object);
}
SERVER_MODULE_EXPORT HRESULT DllCanUnloadNow() { return database::Module().CanUnloadNow(); }
SERVER_MODULE_EXPORT HRESULT DllRegisterServer() { return database::Module().RegisterServer(); }
SERVER_MODULE_EXPORT HRESULT DllUnregisterServer() { return database::Module().UnregisterServer(); }
