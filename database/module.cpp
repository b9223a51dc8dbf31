// The database module: the creatable classes "Vellum.Database", "Vellum.Connection"
// and "Vellum.Recordset", registered like the servers (vellum-regsvr libvellumdb.so).
#include <cstring>
#include <string>

#include "database/connection_object.h"
#include "database/database_objects.h"
#include "database/recordset_object.h"
#include "platform/automation/type_library_file.h"
#include "platform/server/class_script.h"
#include "platform/server/module_exports.h"
#include "platform/server/server_module.h"

namespace {

constexpr UINT kDatabaseRegistryScript = 101;
constexpr UINT kConnectionRegistryScript = 102;
constexpr UINT kRecordsetRegistryScript = 103;

const ObjectMapEntry kObjectMap[] = {
    {&database::CLSID_Database, kDatabaseRegistryScript, &CreateComObject<database::Database>,
     nullptr},
    {&database::CLSID_Connection, kConnectionRegistryScript,
     &CreateComObject<database::ConnectionObject>, nullptr},
    {&database::CLSID_Recordset, kRecordsetRegistryScript,
     &CreateComObject<database::RecordsetObject>, nullptr},
};

// The registration of each creatable class, by its registry script's id.
std::string RegistryScript(UINT id) {
  const ClassRegistration registrations[] = {
      {"Vellum.Database", "Database Class", database::CLSID_Database, "both",
       &database::LIBID_VellumDatabaseLib},
      {"Vellum.Connection", "Connection Class", database::CLSID_Connection, "both",
       &database::LIBID_VellumDatabaseLib},
      {"Vellum.Recordset", "Recordset Class", database::CLSID_Recordset, "both",
       &database::LIBID_VellumDatabaseLib},
  };
  return ClassRegistryScript(registrations[id - kDatabaseRegistryScript]);
}

// The module's registry script and type library; empty for any other resource.
std::string_view FindResource(LPCSTR type, UINT id) {
  if (std::strcmp(type, kRegistryResource) == 0 && id >= kDatabaseRegistryScript &&
      id <= kRecordsetRegistryScript) {
    static const std::string scripts[] = {RegistryScript(kDatabaseRegistryScript),
                                          RegistryScript(kConnectionRegistryScript),
                                          RegistryScript(kRecordsetRegistryScript)};
    return scripts[id - kDatabaseRegistryScript];
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
