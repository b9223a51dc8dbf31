// The database module: one creatable class, "Vellum.Database", registered like the
// servers (vellum-regsvr libvellumdb.so).
#include <cstring>
#include <string>

#include "database/database_objects.h"
#include "platform/automation/type_library_file.h"
#include "platform/server/class_script.h"
#include "platform/server/module_exports.h"
#include "platform/server/server_module.h"

namespace {

constexpr UINT kDatabaseRegistryScript = 101;

const ObjectMapEntry kObjectMap[] = {
    {&database::CLSID_Database, kDatabaseRegistryScript, &CreateComObject<database::Database>,
     nullptr},
};

// The module's registry script and type library; empty for any other resource.
std::string_view FindResource(LPCSTR type, UINT id) {
  if (std::strcmp(type, kRegistryResource) == 0 && id == kDatabaseRegistryScript) {
    static const std::string script =
        ClassRegistryScript({"Vellum.Database", "Database Class", database::CLSID_Database, "both",
                             &database::LIBID_VellumDatabaseLib});
    return script;
  }
  if (std::strcmp(type, kTypeLibResource) == 0 && id == 1) {
    static const std::string library =
        automation::SerializeTypeLibrary(*database::DatabaseLibrary());
    return library;
  }
  return {};
}

}  // namespace

namespace database {

namespace {

// Constructed when the module is loaded and destroyed when it is unloaded.
ServerModule g_module(kObjectMap, LIBID_VellumDatabaseLib, &VelrtModuleResource, ModuleLocks());

}  // namespace

ServerModule& Module() { return g_module; }

}  // namespace database

SERVER_MODULE_ENTRIES(database::Module(), FindResource)
