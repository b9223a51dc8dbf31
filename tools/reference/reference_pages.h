// The member reference as Markdown pages: one page per object (a class's default
// interface, or an interface no class offers, named as the notes say), one per library
// with its enumerations, and an index. The structure comes from the type library (members,
// parameters, types, defaults, property get and put, DISPIDs, enumeration values);
// the prose from the library's notes (notes.h).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/automation/type_description.h"
#include "tools/reference/notes.h"

namespace reference {

// How a class is registered; empty texts for a class the module does not register.
struct ClassRegistration {
  std::string progId;
  std::string versionedProgId;
  std::string threadingModel;
};

struct DocumentedLibrary {
  automation::TypeLibraryDesc library;
  std::string origin;     // "libvellum.so", or what provides a library without a module
  std::string notesFile;  // as the pages name it
  LibraryNotes notes;
  std::map<std::string, ClassRegistration> registrations;  // by class name
};

// The pages by file name. Each problem (an object or member without notes, notes of
// something the library does not have, two pages of one name) is reported; the pages
// are complete only when there is none.
std::map<std::string, std::string> MakePages(const std::vector<DocumentedLibrary>& libraries,
                                             std::vector<std::string>* problems);

}  // namespace reference
