#include "script/program_version.h"

namespace script {

std::string_view ProjectVersion() { return VELLUM_VERSION; }

std::string VersionLine(std::string_view program) {
  return std::string(program) + " (Vellum) " + std::string(ProjectVersion());
}

}  // namespace script
