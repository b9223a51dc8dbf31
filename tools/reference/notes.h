// The prose of the member reference, kept beside each library's description as a
// Markdown file whose marker headings say what each part describes:
//
//   # Library VELLUMLib    the library: what its module is for
//   # Enum EZImageFormat   an enumeration (optional)
//   # Class EnumImages     a class with no interface in the library (an enumerator)
//   # Object Easel         an object, named as its class (or as its interface without
//                          the leading I when no class offers it): its introduction
//   # Object Request = IPageRequest
//                          an object no class offers, named for its interface
//   ## LoadImage           one member of the object above
//
// Everything else is Markdown copied into the pages as it is; lines inside ``` fences
// are never headings.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

struct ObjectNotes {
  std::string interface;  // the interface the heading names ("" when it names none)
  std::string intro;
  std::map<std::string, std::string> members;  // by member name
};

struct LibraryNotes {
  std::string libraryName;
  std::string library;
  std::map<std::string, std::string> enums;
  std::map<std::string, std::string> classes;
  std::map<std::string, ObjectNotes> objects;
};

// Parses the notes; each problem (a section of an unknown kind, a member outside an
// object, a name given twice) is reported as "FILE:LINE: text".
LibraryNotes ParseNotes(std::string_view text, const std::string& fileName,
                        std::vector<std::string>* problems);

}  // namespace reference
