#include "tools/reference/reference_pages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <utility>

#include "platform/com/guid.h"

namespace reference {

namespace {

using automation::ClassDesc;
using automation::Constant;
using automation::EnumDesc;
using automation::InterfaceDesc;
using automation::MemberDesc;
using automation::MemberKind;
using automation::TypeDesc;
using automation::TypeLibraryDesc;

constexpr char kRegenerate[] = "bash scripts/reference.sh";

// The anchor a Markdown heading gets: lower case, spaces as dashes, other punctuation
// dropped.
std::string Anchor(std::string_view heading) {
  std::string anchor;
  for (const char c : heading) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '_' || c == '-') {
      anchor.push_back(static_cast<char>(std::tolower(u)));
    } else if (c == ' ') {
      anchor.push_back('-');
    }
  }
  return anchor;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Code(std::string_view text) { return "`" + std::string(text) + "`"; }

// An interface as a page: named as the class that offers it, else as the interface
// without its leading I.
struct ObjectPage {
  const InterfaceDesc* interface = nullptr;
  const ClassDesc* klass = nullptr;
  std::string name;
};

std::string ObjectName(const InterfaceDesc& interface, const ClassDesc* klass,
                       const LibraryNotes& notes) {
  if (klass != nullptr) return klass->name;
  for (const auto& [objectName, objectNotes] : notes.objects) {
    if (objectNotes.interface == interface.name) return objectName;
  }
  const std::string& name = interface.name;
  if (name.size() > 1 && name[0] == 'I' && std::isupper(static_cast<unsigned char>(name[1]))) {
    return name.substr(1);
  }
  return name;
}

std::vector<ObjectPage> ObjectsOf(const TypeLibraryDesc& library, const LibraryNotes& notes) {
  std::vector<ObjectPage> objects;
  for (const InterfaceDesc& interface : library.interfaces) {
    const ClassDesc* offering = nullptr;
    for (const ClassDesc& klass : library.classes) {
      if (!klass.defaultInterface.empty() &&
          automation::NamesEqual(klass.defaultInterface, interface.name)) {
        offering = &klass;
        break;
      }
    }
    objects.push_back({&interface, offering, ObjectName(interface, offering, notes)});
  }
  return objects;
}

// The kinds a member name has on an interface (get and put of one property are one
// entry), in the order the name first appears.
struct MemberEntry {
  std::string name;
  DISPID id = 0;
  const MemberDesc* method = nullptr;
  const MemberDesc* get = nullptr;
  const MemberDesc* put = nullptr;
  const MemberDesc* putRef = nullptr;

  const MemberDesc& First() const { return method ? *method : get ? *get : put ? *put : *putRef; }
  bool IsProperty() const { return method == nullptr; }
};

std::vector<MemberEntry> MembersOf(const InterfaceDesc& interface) {
  std::vector<MemberEntry> entries;
  for (const MemberDesc& member : interface.members) {
    MemberEntry* entry = nullptr;
    for (MemberEntry& existing : entries) {
      if (existing.name == member.name) entry = &existing;
    }
    if (entry == nullptr) {
      entries.push_back({member.name, member.id});
      entry = &entries.back();
    }
    switch (member.kind) {
      case MemberKind::kMethod:
        entry->method = &member;
        break;
      case MemberKind::kGet:
        entry->get = &member;
        break;
      case MemberKind::kPut:
        entry->put = &member;
        break;
      case MemberKind::kPutRef:
        entry->putRef = &member;
        break;
    }
  }
  return entries;
}

// Where the names of one library's types lead.
class LibraryLinks {
 public:
  LibraryLinks(const TypeLibraryDesc& library, const LibraryNotes& notes) : library_(library) {
    for (const ObjectPage& object : ObjectsOf(library, notes)) {
      pages_[object.interface->name] = object.name + ".md";
    }
  }

  std::string TypeText(const TypeDesc& type) const {
    if (!type.name.empty()) {
      const auto page = pages_.find(type.name);
      if (page != pages_.end()) {
        return "[" + page->second.substr(0, page->second.size() - 3) + "](" + page->second + ")";
      }
      return "[" + type.name + "](" + library_.name + ".md#" + Anchor(type.name) + ")";
    }
    switch (type.vt) {
      case VT_I2:
        return "short";
      case VT_I4:
        return "long";
      case VT_R4:
        return "float";
      case VT_R8:
        return "double";
      case VT_BSTR:
        return "string";
      case VT_BOOL:
        return "boolean";
      case VT_VARIANT:
        return "VARIANT";
      case VT_DISPATCH:
        return "object";
      case VT_UNKNOWN:
        return "IUnknown";
      default:
        return "";
    }
  }

  // The text of an optional parameter's default; an enumeration's value is named.
  std::string DefaultText(const automation::ParamDesc& param) const {
    if (const auto* integer = std::get_if<int32_t>(&param.defaultValue)) {
      std::string text = std::to_string(*integer);
      if (const EnumDesc* e = FindEnum(param.type.name)) {
        for (const automation::EnumValue& value : e->values) {
          if (value.value == *integer) return text + " (" + Code(value.name) + ")";
        }
      }
      return text;
    }
    if (const auto* real = std::get_if<double>(&param.defaultValue)) {
      char text[32];
      std::snprintf(text, sizeof text, "%.15g", *real);
      return text;
    }
    if (const auto* text = std::get_if<std::string>(&param.defaultValue)) {
      return Code("\"" + *text + "\"");
    }
    return "";
  }

 private:
  const EnumDesc* FindEnum(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (const EnumDesc& e : library_.enums) {
      if (e.name == name) return &e;
    }
    return nullptr;
  }

  const TypeLibraryDesc& library_;
  std::map<std::string, std::string> pages_;
};

std::string DispidText(DISPID id) {
  std::string text = "DISPID " + std::to_string(id);
  if (id == DISPID_NEWENUM) return text + " (`DISPID_NEWENUM`: what `Enumerator` walks)";
  if (id == DISPID_VALUE) return text + " (the default member)";
  if (id > 9) return text + " (" + Hex(static_cast<uint32_t>(id)) + ")";
  return text;
}

bool IsPutKind(MemberKind kind) { return kind == MemberKind::kPut || kind == MemberKind::kPutRef; }

// The parameters a script names in a call: for a put, all but the value.
std::vector<automation::ParamDesc> CallParameters(const MemberDesc& member) {
  std::vector<automation::ParamDesc> params = member.params;
  if (IsPutKind(member.kind) && !params.empty()) params.pop_back();
  return params;
}

// "Width, Height, [p_iAlgorithm]": optional parameters in brackets.
std::string ParameterList(const std::vector<automation::ParamDesc>& params) {
  std::string text;
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) text += ", ";
    text += params[i].optional ? "[" + params[i].name + "]" : params[i].name;
  }
  return text;
}

std::string Signature(const MemberEntry& entry) {
  const std::vector<automation::ParamDesc> params = CallParameters(entry.First());
  if (entry.IsProperty() && params.empty()) return entry.name;
  return entry.name + "(" + ParameterList(params) + ")";
}

std::string KindText(const MemberEntry& entry) {
  if (!entry.IsProperty()) return "method";
  std::string text = "property, ";
  if (entry.get != nullptr && (entry.put != nullptr || entry.putRef != nullptr)) {
    text += "read and write";
  } else if (entry.get != nullptr) {
    text += "read-only";
  } else {
    text += "write-only";
  }
  if (entry.putRef != nullptr) text += entry.put ? " (also by reference)" : " (by reference)";
  return text;
}

// The value a property holds, or the result of a method (empty for none).
TypeDesc ValueType(const MemberEntry& entry) {
  if (entry.method != nullptr) return entry.method->result;
  if (entry.get != nullptr) return entry.get->result;
  const MemberDesc& put = entry.put ? *entry.put : *entry.putRef;
  return put.params.empty() ? TypeDesc{} : put.params.back().type;
}

// A help string other than the "method X" / "property X" every member gets.
std::string OwnHelp(const MemberEntry& entry) {
  for (const MemberDesc* member : {entry.method, entry.get, entry.put, entry.putRef}) {
    if (member == nullptr) continue;
    if (member->help != "method " + member->name && member->help != "property " + member->name) {
      return member->help;
    }
  }
  return {};
}

// The first sentence of a text: its first paragraph, lines joined, up to the first
// full stop that ends a word.
std::string Summary(const std::string& notes) {
  std::string paragraph = notes.substr(0, notes.find("\n\n"));
  std::replace(paragraph.begin(), paragraph.end(), '\n', ' ');
  const size_t stop = paragraph.find(". ");
  return stop == std::string::npos ? paragraph : paragraph.substr(0, stop + 1);
}

std::string Banner(const DocumentedLibrary& documented) {
  return "<!-- Generated by vellum-reference from the type library " + documented.library.name +
         " (" + documented.origin + ") and " + documented.notesFile +
         ". Edit those, then run: " + kRegenerate + " -->\n";
}

class PageMaker {
 public:
  PageMaker(const DocumentedLibrary& documented, std::vector<std::string>* problems)
      : documented_(documented),
        library_(documented.library),
        notes_(documented.notes),
        links_(documented.library, documented.notes),
        problems_(problems) {}

  void AddPages(std::map<std::string, std::string>& pages) {
    if (notes_.libraryName != library_.name) {
      Report("no '# Library " + library_.name + "' section");
    }
    std::set<std::string> described;
    for (const ObjectPage& object : ObjectsOf(library_, notes_)) {
      described.insert(object.name);
      AddPage(pages, object.name + ".md", ObjectPageText(object));
    }
    for (const auto& [name, ignored] : notes_.objects) {
      if (!described.contains(name)) Report("'# Object " + name + "' describes no object");
    }
    for (const auto& [name, ignored] : notes_.enums) {
      if (library_.FindType(name) < 0 || library_.FindType(name) >= EnumCount()) {
        Report("'# Enum " + name + "' describes no enumeration");
      }
    }
    for (const auto& [name, ignored] : notes_.classes) {
      const ClassDesc* klass = FindClass(name);
      if (klass == nullptr || !klass->defaultInterface.empty()) {
        Report("'# Class " + name + "' describes no class without an interface");
      }
    }
    AddPage(pages, library_.name + ".md", LibraryPageText());
  }

 private:
  void Report(const std::string& problem) {
    problems_->push_back(documented_.notesFile + ": " + problem);
  }

  void AddPage(std::map<std::string, std::string>& pages, const std::string& name,
               std::string text) {
    if (!pages.emplace(name, std::move(text)).second) {
      Report("two pages named " + name + " (rename an object or a library)");
    }
  }

  int EnumCount() const { return static_cast<int>(library_.enums.size()); }

  const ClassDesc* FindClass(const std::string& name) const {
    for (const ClassDesc& klass : library_.classes) {
      if (klass.name == name) return &klass;
    }
    return nullptr;
  }

  const ClassRegistration* RegistrationOf(const ClassDesc* klass) const {
    if (klass == nullptr) return nullptr;
    const auto found = documented_.registrations.find(klass->name);
    return found == documented_.registrations.end() || found->second.progId.empty()
               ? nullptr
               : &found->second;
  }

  std::string ObjectPageText(const ObjectPage& object) {
    const auto notes = notes_.objects.find(object.name);
    if (notes == notes_.objects.end()) {
      Report("no '# Object " + object.name + "' section for " + object.interface->name);
    }
    static const ObjectNotes kNone;
    const ObjectNotes& objectNotes = notes == notes_.objects.end() ? kNone : notes->second;
    const std::vector<MemberEntry> members = MembersOf(*object.interface);

    std::string page = Banner(documented_) + "# " + object.name + "\n\n| | |\n|---|---|\n";
    if (const ClassRegistration* registration = RegistrationOf(object.klass)) {
      page += "| Created with | `CreateObject(\"" + registration->progId + "\")`";
      if (!registration->versionedProgId.empty()) {
        page += " (versioned ProgID " + Code(registration->versionedProgId) + ")";
      }
      page += " |\n";
    }
    page += "| Module | " + documented_.origin + ", type library [" + library_.name + "](" +
            library_.name + ".md) " + std::to_string(library_.majorVersion) + "." +
            std::to_string(library_.minorVersion) + " |\n";
    page += "| Interface | " + Code(object.interface->name) + " " +
            Code(GuidToString(object.interface->iid)) + ", dual |\n";
    if (object.klass != nullptr) {
      page +=
          "| Class | " + Code(object.klass->name) + " " + Code(GuidToString(object.klass->clsid));
      const ClassRegistration* registration = RegistrationOf(object.klass);
      if (registration != nullptr && !registration->threadingModel.empty()) {
        page += ", threading model " + Code(registration->threadingModel);
      } else if (registration == nullptr) {
        page += ", not registered: scripts do not create it";
      }
      page += " |\n";
    }
    if (!objectNotes.intro.empty()) page += "\n" + objectNotes.intro + "\n";

    page += "\n## Members\n\n| Member | Kind | Type | DISPID |\n|---|---|---|---|\n";
    for (const MemberEntry& entry : members) {
      page += "| [" + Signature(entry) + "](#" + Anchor(entry.name) + ") | " + KindText(entry) +
              " | " + links_.TypeText(ValueType(entry)) + " | " + std::to_string(entry.id) + " |\n";
    }
    std::set<std::string> described;
    for (const MemberEntry& entry : members) {
      described.insert(entry.name);
      const auto memberNotes = objectNotes.members.find(entry.name);
      if (memberNotes == objectNotes.members.end()) {
        Report("no '## " + entry.name + "' under '# Object " + object.name + "'");
      }
      page +=
          "\n" + MemberText(entry, memberNotes == objectNotes.members.end() ? std::string()
                                                                            : memberNotes->second);
    }
    for (const auto& [name, ignored] : objectNotes.members) {
      if (!described.contains(name)) {
        Report("'## " + name + "' under '# Object " + object.name + "' describes no member");
      }
    }
    return page;
  }

  std::string MemberText(const MemberEntry& entry, const std::string& notes) const {
    std::string text =
        "### " + entry.name + "\n\n" + Code(Signature(entry)) + " · " + KindText(entry);
    const std::string type = links_.TypeText(ValueType(entry));
    if (!type.empty()) text += (entry.IsProperty() ? " · " : " · returns ") + type;
    text += " · " + DispidText(entry.id) + "\n";
    const std::vector<automation::ParamDesc> params = CallParameters(entry.First());
    const MemberDesc* put = entry.put != nullptr ? entry.put : entry.putRef;
    if (put != nullptr && !params.empty()) {
      text += "\nSet with " + Code(entry.name + ".put(" + ParameterList(put->params) + ")") + ".\n";
    }
    if (!params.empty()) {
      text += "\n| Parameter | Type | Optional |\n|---|---|---|\n";
      for (const automation::ParamDesc& param : params) {
        std::string optional = "";
        if (param.optional) {
          const std::string defaultText = links_.DefaultText(param);
          optional = defaultText.empty() ? "yes" : "yes, default " + defaultText;
        }
        text += "| " + Code(param.name) + " | " + links_.TypeText(param.type) + " | " + optional +
                " |\n";
      }
    }
    const std::string help = OwnHelp(entry);
    if (!help.empty()) text += "\nThe type library's help string: \"" + help + "\".\n";
    if (!notes.empty()) text += "\n" + notes + "\n";
    return text;
  }

  std::string LibraryPageText() const {
    std::string page = Banner(documented_) + "# " + library_.name + "\n\n| | |\n|---|---|\n";
    page += "| Module | " + documented_.origin + " |\n";
    page += "| Type library | " + Code(library_.name) + " " + Code(GuidToString(library_.libid)) +
            ", version " + std::to_string(library_.majorVersion) + "." +
            std::to_string(library_.minorVersion);
    if (!library_.help.empty()) page += ", \"" + library_.help + "\"";
    page += " |\n";
    if (!notes_.library.empty()) page += "\n" + notes_.library + "\n";

    page += "\n## Objects\n\n| Object | Interface | Created with |\n|---|---|---|\n";
    for (const ObjectPage& object : ObjectsOf(library_, notes_)) {
      const ClassRegistration* registration = RegistrationOf(object.klass);
      page += "| [" + object.name + "](" + object.name + ".md) | " + Code(object.interface->name) +
              " | " + (registration ? "`CreateObject(\"" + registration->progId + "\")`" : "") +
              " |\n";
    }
    bool classesHeaded = false;
    for (const ClassDesc& klass : library_.classes) {
      if (!klass.defaultInterface.empty()) continue;
      if (!std::exchange(classesHeaded, true)) page += "\n## Other classes\n";
      page += "\n### " + klass.name + "\n\nClass " + Code(GuidToString(klass.clsid)) +
              ", with no interface in this library.\n";
      const auto notes = notes_.classes.find(klass.name);
      if (notes != notes_.classes.end() && !notes->second.empty())
        page += "\n" + notes->second + "\n";
    }
    if (!library_.enums.empty()) {
      page +=
          "\n## Enumerations\n\nEvery constant below is a read-only global of the scripts "
          "that `vellum-script`\nand the page host run once the module is registered.\n";
    }
    for (const EnumDesc& e : library_.enums) {
      page += "\n### " + e.name + "\n";
      const auto notes = notes_.enums.find(e.name);
      if (notes != notes_.enums.end() && !notes->second.empty())
        page += "\n" + notes->second + "\n";
      page += "\n| Constant | Value |\n|---|---|\n";
      for (const automation::EnumValue& value : e.values) {
        page += "| " + Code(value.name) + " | " + std::to_string(value.value) + " |\n";
      }
    }
    return page;
  }

  const DocumentedLibrary& documented_;
  const TypeLibraryDesc& library_;
  const LibraryNotes& notes_;
  LibraryLinks links_;
  std::vector<std::string>* problems_;
};

constexpr char kIndexIntro[] = R"(# Member reference

Every object a script can reach, member by member, as the type libraries describe them:
the same descriptions drive each object's `IDispatch`, so what is written here is what
a call does. The prose beside each member comes from the notes kept next to each
library's description. For how the pieces fit together, see the [user guide](../guide.md).

## Reading the pages

- **Members** are listed in the order of the interface. A property's get and put are one
  entry; "read and write", "read-only" or "write-only" says which exist. Properties with
  parameters are read as calls (`easel.TextWidth("Hello")`); the put of such a property
  is `object.Member.put(parameters..., value)`.
- **Optional parameters** are in brackets: `ResizeImage(Width, Height, [p_iAlgorithm],
  [MaintainProportions])`. Leave them out (or pass `undefined`) to get the default.
- **DISPID** is the member's dispatch identifier. DISPID 0 is the default member:
  `dictionary("key")` calls `Item`.
- **Types** reach JavaScript as follows:

  | Type | In a script |
  |---|---|
  | short, long | a number (integral; a fraction is rounded half to even) |
  | float, double | a number |
  | string | a string |
  | boolean | `true` or `false` |
  | VARIANT | any value: a number, a string, a boolean, `null`, a `Uint8Array` (a byte array), an array, an object |
  | an enumeration | a number; name it with the enumeration's constants (`eziPNG`) |
  | an interface, object | an automation object |
  | IUnknown | an enumerator: walk it with `new Enumerator(collection)` |

- **Errors.** A failed call throws an `Error` whose `number` is the HRESULT and whose
  `description` is the text listed under *Throws*. The image generator's editing methods
  mostly do not throw: they append a text to `ErrorDescription` and return normally (listed
  under *Appends to ErrorDescription*); strict errors (`vellum-script --strict`,
  `vellum-host --strict-errors`, a page's `StrictErrors=True`) turn those into thrown
  errors too.
- **Constants.** Every enumeration constant is a read-only global in the scripts that
  `vellum-script` and the page host run: write `easel.SaveImage(eziBrowser, eziPNG, "")`,
  not `easel.SaveImage(2, 4, "")`.

## Libraries
)";

std::string IndexText(const std::vector<DocumentedLibrary>& libraries) {
  std::string page = std::string(
                         "<!-- Generated by vellum-reference; edit the notes beside each "
                         "library's description, then run: ") +
                     kRegenerate + " -->\n" + kIndexIntro;
  for (const DocumentedLibrary& documented : libraries) {
    const TypeLibraryDesc& library = documented.library;
    page += "\n### [" + library.name + "](" + library.name + ".md): " + documented.origin + "\n\n";
    if (!documented.notes.library.empty()) page += Summary(documented.notes.library) + "\n\n";
    for (const ObjectPage& object : ObjectsOf(library, documented.notes)) {
      const auto notes = documented.notes.objects.find(object.name);
      page += "- [" + object.name + "](" + object.name + ".md)";
      if (notes != documented.notes.objects.end() && !notes->second.intro.empty()) {
        page += ": " + Summary(notes->second.intro);
      }
      page += "\n";
    }
    if (!library.enums.empty()) {
      page += "- Enumerations:";
      for (size_t i = 0; i < library.enums.size(); ++i) {
        page += std::string(i == 0 ? " " : ", ") + "[" + library.enums[i].name + "](" +
                library.name + ".md#" + Anchor(library.enums[i].name) + ")";
      }
      page += "\n";
    }
  }
  return page;
}

}  // namespace

std::map<std::string, std::string> MakePages(const std::vector<DocumentedLibrary>& libraries,
                                             std::vector<std::string>* problems) {
  std::map<std::string, std::string> pages;
  for (const DocumentedLibrary& documented : libraries) {
    PageMaker(documented, problems).AddPages(pages);
  }
  if (!pages.emplace("README.md", IndexText(libraries)).second) {
    problems->push_back("a library or object named README");
  }
  return pages;
}

}  // namespace reference
