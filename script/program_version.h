// What the programs print for --version.
#pragma once

#include <string>
#include <string_view>

namespace script {

// The project's version, "0.2.0".
std::string_view ProjectVersion();

// "vellum-script (Vellum) 0.2.0".
std::string VersionLine(std::string_view program);

}  // namespace script
