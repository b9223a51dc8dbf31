// The registrar: runs a module's registry script against the registry, to register
// or to unregister.
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {GUID} = s 'Some Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'both'
//         }
//       }
//     }
//   }
//
// Tokens are separated by white space; texts are quoted with single quotes, a quote
// inside doubled. Registering creates every key (a ForceRemove key is first deleted
// with its subtree; a Delete key is deleted) and writes its default value ("= s")
// and named values ("val"). Unregistering deletes a ForceRemove key with its subtree,
// deletes the named values the script writes, and deletes any other key that is left
// without subkeys, except NoRemove keys, which stay.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/hresult.h"

namespace registry {

// The %NAME% replacements of a script (%% stands for one %). Values are inserted as
// they are: a value that goes inside a quoted text must have its quotes doubled.
using ScriptReplacements = std::vector<std::pair<std::string, std::string>>;

// Doubles every single quote, for a value inserted inside a quoted text.
std::string DoubleSingleQuotes(std::string_view text);

// Runs the script as one registry change. DISP_E_EXCEPTION for a script that does not
// parse (nothing is changed then), or the registry's failure.
HRESULT RunRegistryScript(std::string_view script, const ScriptReplacements& replacements,
                          bool registering);

}  // namespace registry
