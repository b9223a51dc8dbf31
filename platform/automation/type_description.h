// Interfaces described as data. One description per interface names every member
// with its DISPID, kind, parameters (types, optional ones and their defaults), result
// and help string; enumerations and classes are described beside them, and the whole
// is a type library. That one description drives IDispatch (dispatch.h), the
// ITypeInfo a script host reads (type_info.h) and the serialised type library a
// module carries (type_library_file.h).
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/com/interfaces.h"

namespace automation {

// A type in a description: the automation type an argument is coerced to, and for an
// enumeration (VT_I4) or an interface (VT_DISPATCH, VT_UNKNOWN) the name of that type
// in the same library. VT_EMPTY as a result type means the member returns no value.
struct TypeDesc {
  VARTYPE vt = VT_EMPTY;
  std::string name;
  friend bool operator==(const TypeDesc&, const TypeDesc&) = default;
};

inline const TypeDesc kNoValue{VT_EMPTY, {}};
inline const TypeDesc kShortType{VT_I2, {}};
inline const TypeDesc kLongType{VT_I4, {}};
inline const TypeDesc kDoubleType{VT_R8, {}};
inline const TypeDesc kStringType{VT_BSTR, {}};
inline const TypeDesc kBoolType{VT_BOOL, {}};
inline const TypeDesc kVariantType{VT_VARIANT, {}};
inline TypeDesc Enum(std::string name) { return {VT_I4, std::move(name)}; }
inline TypeDesc Interface(std::string name) { return {VT_DISPATCH, std::move(name)}; }

// A constant: the default of an optional parameter. monostate is "none".
using Constant = std::variant<std::monostate, int32_t, double, std::string>;

struct ParamDesc {
  std::string name;
  TypeDesc type;
  bool optional = false;
  Constant defaultValue;  // set only for optional parameters
  friend bool operator==(const ParamDesc&, const ParamDesc&) = default;
};

// The kinds of member, with the platform's INVOKEKIND values.
enum class MemberKind : uint8_t { kMethod = 1, kGet = 2, kPut = 4, kPutRef = 8 };

// What a C++ method takes or gives for one parameter, as read from or written to a
// VARIANT: lets a description be checked against the method it calls.
enum class SlotKind : uint8_t {
  kNone,
  kInt16,
  kInt32,
  kReal32,
  kReal64,
  kString,
  kVariant,
  kDispatch,
  kUnknown,
};

// Calls one member on an object. `arguments` hold the in-parameters already coerced
// to their declared types, in declaration order; the member's value (if any) is
// written to `result` (its bits for a scalar; the whole VARIANT for a VARIANT result).
using MemberThunk = HRESULT (*)(void* object, VARIANT* arguments, VARIANT* result);

// How a member reaches the C++ method that implements it (binding.h makes these).
struct Binding {
  MemberThunk thunk = nullptr;
  std::vector<SlotKind> parameters;
  SlotKind result = SlotKind::kNone;
};

struct MemberDesc {
  DISPID id = 0;
  MemberKind kind = MemberKind::kMethod;
  std::string name;
  std::vector<ParamDesc> params;  // in-parameters; for a put, the last one is the value
  TypeDesc result;
  std::string help;
  Binding binding;  // empty in a description read from a type library file
};

// A dual interface (derived from IDispatch); members are in table-slot order.
struct InterfaceDesc {
  std::string name;
  IID iid = GUID_NULL;
  std::string help;
  std::vector<MemberDesc> members;
};

struct EnumValue {
  std::string name;
  int32_t value = 0;
  std::string help;
  friend bool operator==(const EnumValue&, const EnumValue&) = default;
};

struct EnumDesc {
  std::string name;
  std::string help;
  std::vector<EnumValue> values;
  friend bool operator==(const EnumDesc&, const EnumDesc&) = default;
};

struct ClassDesc {
  std::string name;
  CLSID clsid = GUID_NULL;
  std::string help;
  // Empty for a class whose interface lies outside the library (an enumerator's).
  std::string defaultInterface;
  friend bool operator==(const ClassDesc&, const ClassDesc&) = default;
};

// A type library. Its types are numbered enumerations first, then interfaces, then
// classes; that number is a type's index in ITypeLib and its HREFTYPE.
struct TypeLibraryDesc {
  std::string name;
  GUID libid = GUID_NULL;
  uint16_t majorVersion = 1;
  uint16_t minorVersion = 0;
  LCID lcid = 0;
  std::string help;
  std::vector<EnumDesc> enums;
  std::vector<InterfaceDesc> interfaces;
  std::vector<ClassDesc> classes;

  size_t TypeCount() const { return enums.size() + interfaces.size() + classes.size(); }
  // The index of a type by name, or -1.
  int FindType(std::string_view typeName) const;
  const InterfaceDesc* FindInterface(REFIID iid) const;
};

// The most parameters a member may declare.
constexpr size_t kMaxParams = 32;

// Problems of a description, one text each: a name used twice, a type name that the
// library does not define, a put without a value parameter, an optional parameter
// followed by a required one, too many parameters, or a binding that does not
// match its member's declared types. Empty for a sound library.
std::vector<std::string> CheckLibrary(const TypeLibraryDesc& library);

// Makes a library shareable between the module that describes it and the objects
// that hand out type information about it. Members whose binding does not match
// their description lose the binding (so they cannot be called); CheckLibrary says which.
std::shared_ptr<const TypeLibraryDesc> ShareLibrary(TypeLibraryDesc library);

// The slot kind the engine passes for a declared type.
SlotKind SlotKindOf(const TypeDesc& type);
// True when the member has no binding or one whose slots match its declared types.
bool BindingMatches(const MemberDesc& member);

// Names compare as scripts expect: ASCII letters without regard to case.
bool NamesEqual(std::u16string_view a, std::string_view b);
bool NamesEqual(std::string_view a, std::string_view b);

// A constant as a VARIANT (VT_EMPTY for none); E_OUTOFMEMORY for a string that cannot be made.
HRESULT ConstantToVariant(const Constant& constant, VARIANT* value);

// Shorthands for descriptions written in code: a required parameter, and a member
// whose help string is "method <name>" or "property <name>".
inline ParamDesc RequiredParam(std::string name, TypeDesc type) {
  return {std::move(name), std::move(type), false, {}};
}
inline MemberDesc DescribeMember(DISPID id, MemberKind kind, std::string name,
                                 std::vector<ParamDesc> params, TypeDesc result, Binding binding) {
  std::string help = (kind == MemberKind::kMethod ? "method " : "property ") + name;
  return {id,
          kind,
          std::move(name),
          std::move(params),
          std::move(result),
          std::move(help),
          std::move(binding)};
}

}  // namespace automation
