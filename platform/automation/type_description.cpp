#include "platform/automation/type_description.h"

#include <set>

namespace automation {

namespace {

char16_t FoldCase(char16_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c; }

std::string Lowered(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  return out;
}

class LibraryChecker {
 public:
  explicit LibraryChecker(const TypeLibraryDesc& library) : library_(library) {}

  std::vector<std::string> Run() {
    for (const EnumDesc& e : library_.enums) CheckTypeName(e.name);
    for (const InterfaceDesc& i : library_.interfaces) {
      CheckTypeName(i.name);
      for (const MemberDesc& member : i.members) CheckMember(i, member);
    }
    for (const ClassDesc& c : library_.classes) {
      CheckTypeName(c.name);
      if (c.defaultInterface.empty()) continue;
      const int index = library_.FindType(c.defaultInterface);
      const int first = static_cast<int>(library_.enums.size());
      if (index < first || index >= first + static_cast<int>(library_.interfaces.size())) {
        Report(c.name + ": default interface " + c.defaultInterface + " is not an interface");
      }
    }
    return std::move(problems_);
  }

 private:
  void Report(std::string problem) { problems_.push_back(std::move(problem)); }

  void CheckTypeName(const std::string& name) {
    if (!typeNames_.insert(Lowered(name)).second) Report("type name used twice: " + name);
  }

  void CheckType(const std::string& where, const TypeDesc& type, bool isResult) {
    const bool known = type.vt == VT_I2 || type.vt == VT_I4 || type.vt == VT_R4 ||
                       type.vt == VT_R8 || type.vt == VT_BSTR || type.vt == VT_BOOL ||
                       type.vt == VT_VARIANT || type.vt == VT_DISPATCH || type.vt == VT_UNKNOWN ||
                       (isResult && type.vt == VT_EMPTY);
    if (!known) Report(where + ": unsupported type " + std::to_string(type.vt));
    if (type.name.empty()) return;
    const int index = library_.FindType(type.name);
    const bool isEnum = index >= 0 && index < static_cast<int>(library_.enums.size());
    const bool isInterface =
        index >= static_cast<int>(library_.enums.size()) &&
        index < static_cast<int>(library_.enums.size() + library_.interfaces.size());
    if ((type.vt == VT_I4 && !isEnum) ||
        ((type.vt == VT_DISPATCH || type.vt == VT_UNKNOWN) && !isInterface)) {
      Report(where + ": unknown type " + type.name);
    }
  }

  void CheckMember(const InterfaceDesc& owner, const MemberDesc& member) {
    const std::string where = owner.name + "." + member.name;
    const bool isPut = member.kind == MemberKind::kPut || member.kind == MemberKind::kPutRef;
    if (member.params.size() > kMaxParams) Report(where + ": too many parameters");
    if (isPut && member.params.empty()) Report(where + ": a put needs a value parameter");
    if (isPut && member.result.vt != VT_EMPTY) Report(where + ": a put returns no value");
    bool optionalSeen = false;
    for (const ParamDesc& param : member.params) {
      CheckType(where + "(" + param.name + ")", param.type, false);
      if (!param.optional && optionalSeen) Report(where + ": required parameter after optional");
      optionalSeen = optionalSeen || param.optional;
      if (!param.optional && !std::holds_alternative<std::monostate>(param.defaultValue)) {
        Report(where + ": default value on a required parameter");
      }
    }
    CheckType(where, member.result, true);
    for (const MemberDesc& other : owner.members) {
      if (&other == &member) break;
      if (other.id == member.id && other.kind == member.kind) Report(where + ": DISPID used twice");
      if (other.id != member.id && NamesEqual(other.name, member.name)) {
        Report(where + ": name used with two DISPIDs");
      }
    }
    if (!BindingMatches(member)) Report(where + ": binding does not match the description");
  }

  const TypeLibraryDesc& library_;
  std::set<std::string> typeNames_;
  std::vector<std::string> problems_;
};

}  // namespace

int TypeLibraryDesc::FindType(std::string_view typeName) const {
  int index = 0;
  for (const EnumDesc& e : enums) {
    if (NamesEqual(e.name, typeName)) return index;
    ++index;
  }
  for (const InterfaceDesc& i : interfaces) {
    if (NamesEqual(i.name, typeName)) return index;
    ++index;
  }
  for (const ClassDesc& c : classes) {
    if (NamesEqual(c.name, typeName)) return index;
    ++index;
  }
  return -1;
}

const InterfaceDesc* TypeLibraryDesc::FindInterface(REFIID iid) const {
  for (const InterfaceDesc& i : interfaces) {
    if (i.iid == iid) return &i;
  }
  return nullptr;
}

SlotKind SlotKindOf(const TypeDesc& type) {
  switch (type.vt) {
    case VT_I2:
    case VT_BOOL:
      return SlotKind::kInt16;
    case VT_I4:
      return SlotKind::kInt32;
    case VT_R4:
      return SlotKind::kReal32;
    case VT_R8:
      return SlotKind::kReal64;
    case VT_BSTR:
      return SlotKind::kString;
    case VT_VARIANT:
      return SlotKind::kVariant;
    case VT_DISPATCH:
      return SlotKind::kDispatch;
    case VT_UNKNOWN:
      return SlotKind::kUnknown;
    default:
      return SlotKind::kNone;
  }
}

std::vector<std::string> CheckLibrary(const TypeLibraryDesc& library) {
  return LibraryChecker(library).Run();
}

std::shared_ptr<const TypeLibraryDesc> ShareLibrary(TypeLibraryDesc library) {
  for (InterfaceDesc& i : library.interfaces) {
    for (MemberDesc& member : i.members) {
      if (!BindingMatches(member)) member.binding = {};
    }
  }
  return std::make_shared<const TypeLibraryDesc>(std::move(library));
}

bool BindingMatches(const MemberDesc& member) {
  if (member.binding.thunk == nullptr) return true;
  const bool isPut = member.kind == MemberKind::kPut || member.kind == MemberKind::kPutRef;
  if (member.params.size() > kMaxParams || (isPut && member.params.empty())) return false;
  if (member.binding.parameters.size() != member.params.size()) return false;
  for (size_t i = 0; i < member.params.size(); ++i) {
    if (member.binding.parameters[i] != SlotKindOf(member.params[i].type)) return false;
  }
  return member.binding.result == SlotKindOf(member.result);
}

bool NamesEqual(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

HRESULT ConstantToVariant(const Constant& constant, VARIANT* value) {
  VariantInit(value);
  if (const auto* integer = std::get_if<int32_t>(&constant)) {
    value->vt = VT_I4;
    value->lVal = *integer;
  } else if (const auto* real = std::get_if<double>(&constant)) {
    value->vt = VT_R8;
    value->dblVal = *real;
  } else if (const auto* text = std::get_if<std::string>(&constant)) {
    value->bstrVal = AllocBstrFromUtf8(*text);
    if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
  }
  return S_OK;
}

}  // namespace automation
