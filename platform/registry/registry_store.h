// The registry: a persistent tree of keys with string values, shared by every process
// of the user. Top-level keys are the hives ("HKEY_CLASSES_ROOT"); each key has
// named string values, the default value being the one with the empty name.
//
// The store is one file (see RegistryPath). A change runs under an exclusive lock
// shared by all processes and is committed by writing a new file and renaming it over
// the old one, so a reader always sees a whole version, and two processes changing
// the registry at once both land.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"

namespace registry {

constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";
constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";

// Orders names as the registry compares them: ASCII letters without regard to case.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class RegistryKey {
 public:
  using Subkeys = std::map<std::string, RegistryKey, NameLess>;
  using Values = std::map<std::string, std::string, NameLess>;

  // A key below this one by a path of names separated by '\'; null when missing.
  const RegistryKey* Find(std::string_view path) const;
  RegistryKey* Find(std::string_view path);
  // The key at the path, created with every missing key on the way. Empty names in
  // the path are skipped.
  RegistryKey& Create(std::string_view path);
  // Removes a direct subkey with everything below it; false when there is none.
  bool RemoveSubkey(std::string_view name);

  // A value by name ("" is the default value); null when missing.
  const std::string* Value(std::string_view name) const;
  void SetValue(std::string_view name, std::string value);
  bool RemoveValue(std::string_view name);

  const Subkeys& subkeys() const { return subkeys_; }
  const Values& values() const { return values_; }

  friend bool operator==(const RegistryKey&, const RegistryKey&) = default;

 private:
  Subkeys subkeys_;
  Values values_;
};

// The registry files. The per-user one is vellum/registry under the user's data
// directory ($XDG_DATA_HOME, or ~/.local/share); the system one is
// /var/lib/vellum/registry (or $VELLUM_SYSTEM_REGISTRY), written by the package.
std::string UserRegistryPath();
std::string SystemRegistryPath();
// The registry read: $VELLUM_REGISTRY when set, else the per-user one when it exists,
// else the system one when it exists, else the per-user one (empty until written).
std::string RegistryPath();
// The registry changed: $VELLUM_REGISTRY when set, else the per-user one, which starts
// as a copy of the system one when it is first written.
std::string WrittenRegistryPath();

// The file format, exposed for tests: the text a tree is stored as, and the tree a
// text holds (nothing for a malformed text).
std::string SerializeRegistry(const RegistryKey& root);
std::unique_ptr<RegistryKey> ParseRegistry(std::string_view text);

// A snapshot of the whole registry (an empty tree when the file does not exist yet).
// REGDB_E_READREGDB when the file cannot be read or is malformed.
HRESULT ReadRegistry(std::shared_ptr<const RegistryKey>* root);

// Applies `change` to the current registry under the exclusive lock and commits the
// result. A failure of `change` is returned and nothing is written. A registry that
// cannot be read is never overwritten (REGDB_E_READREGDB); REGDB_E_WRITEREGDB when
// the new version cannot be written.
HRESULT UpdateRegistry(const std::function<HRESULT(RegistryKey& root)>& change);

// A value of a key under a hive: S_OK with the value, S_FALSE when the key or the value
// is missing, REGDB_E_READREGDB when the registry cannot be read.
HRESULT QueryValue(std::string_view hive, std::string_view keyPath, std::string_view valueName,
                   std::string* value);

// QueryValue under HKEY_CLASSES_ROOT.
inline HRESULT QueryClassesRoot(std::string_view keyPath, std::string_view valueName,
                                std::string* value) {
  return QueryValue(kClassesRoot, keyPath, valueName, value);
}

}  // namespace registry
