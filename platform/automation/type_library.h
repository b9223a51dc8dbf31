// Type libraries as files and registry entries: loading one from a module's "TYPELIB"
// resource or from a .tlb file, and registering and unregistering it.
#pragma once

#include "platform/automation/type_info.h"

// Loads the library of a module (its "TYPELIB" resource 1) or, when the path does not
// name a loadable module with that resource, of a file holding the serialised form.
// TYPE_E_CANTLOADLIBRARY when neither works.
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library);

// Writes the library's registry entries: TypeLib\{libid}\major.minor (default value:
// its help string; FLAGS; HELPDIR; lcid\win64 = the path), and for every interface
// Interface\{iid} (default value: its name; TypeLib = {libid} with Version).
HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDirectory);

// Removes what RegisterTypeLib wrote for that version (the interface keys only where
// they still name this library). TYPE_E_REGISTRYACCESS when the version is not registered.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND kind);
