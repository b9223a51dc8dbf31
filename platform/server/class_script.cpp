#include "platform/server/class_script.h"

#include "platform/registry/registrar.h"

std::string ClassRegistryScript(const ClassRegistration& registration) {
  const std::string progId(registration.progId);
  const std::string description =
      " = s '" + registry::DoubleSingleQuotes(registration.description) + "'";
  const std::string clsid = GuidToString(registration.clsid);
  const bool automation = registration.typeLibrary != nullptr;
  std::string script = "HKCR\n{\n";
  script += "\t" + progId + ".1" + description + "\n\t{\n\t\tCLSID = s '" + clsid + "'\n\t}\n";
  script += "\t" + progId + description + "\n\t{\n\t\tCLSID = s '" + clsid + "'\n";
  if (automation) script += "\t\tCurVer = s '" + progId + ".1'\n";
  script += "\t}\n\tNoRemove CLSID\n\t{\n";
  script += "\t\tForceRemove " + clsid + description + "\n\t\t{\n";
  script += "\t\t\tProgID = s '" + progId + ".1'\n";
  script += "\t\t\tVersionIndependentProgID = s '" + progId + "'\n";
  if (automation) script += "\t\t\tForceRemove 'Programmable'\n";
  script += "\t\t\tInprocServer32 = s '%MODULE%'\n\t\t\t{\n";
  script += "\t\t\t\tval ThreadingModel = s '" + std::string(registration.threadingModel) +
            "'\n\t\t\t}\n";
  if (automation) {
    script += "\t\t\t'TypeLib' = s '" + GuidToString(*registration.typeLibrary) + "'\n";
  }
  script += "\t\t}\n\t}\n}\n";
  return script;
}
