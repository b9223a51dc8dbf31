// What a script is told when CreateObject names a class the registry does not know:
// which registry file was read and the command that registers the module providing it.
#pragma once

#include <string>
#include <string_view>

namespace script {

// "no class is registered as 'Quillmark.Easel' in the registry /home/u/.local/share/
// vellum/registry; register its module with: vellum-regsvr /usr/lib/.../libvellum.so".
// The module is the one beside the platform library whose type library has a class
// named as the ProgID's second part; MODULE.so when there is none.
std::string UnregisteredClassText(std::string_view progId);

}  // namespace script
