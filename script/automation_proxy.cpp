// Automation objects as script objects. Each object is a Proxy whose target (a
// function, so that the object itself can be called for its default member) holds
// the IDispatch pointer under a hidden key and releases it when it is collected.
//
//   e.Width                a property get without parameters: its value
//   e.ImageQuality = 80    a property put
//   e.RotateImage(90, 0)   a method: a function that invokes it
//   e.TextWidth("x")       a property get with parameters: a function that invokes it
//   d.Item.put(k, v)       the put of a property with parameters
//   d(key)                 the default member (DISPID_VALUE)
//
// The member's kinds come from the object's type information; an object without
// any is asked for a property value first and given a function when that fails. An
// object converts to a primitive (`"" + o`, `o == "x"`) through its default member.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/automation/type_info.h"
#include "script/hresult_text.h"
#include "script/script_globals.h"
#include "script/script_values.h"

namespace script {

namespace {

// Hidden keys (DUK_HIDDEN_SYMBOL spelled out), as arrays, so that the engine finds
// them through its cache of literals instead of hashing them on every use.
constexpr char kDispatchKey[] =
    "\xFF"
    "dispatch";
constexpr char kCalleeKey[] =
    "\xFF"
    "callee";
constexpr char kNameKey[] =
    "\xFF"
    "name";
constexpr char kMembersKey[] =
    "\xFF"
    "members";
constexpr char kFunctionsKey[] =
    "\xFF"
    "functions";
constexpr char kHandlerKey[] =
    "\xFF"
    "automationHandler";
constexpr char kPutKey[] =
    "\xFF"
    "automationPut";

struct MemberShape {
  bool described = false;
  bool method = false;
  bool get = false;
  bool put = false;
  bool putRef = false;
  int getParams = 0;
  int putParams = 0;
};

void AddKind(const FUNCDESC& function, MemberShape& shape) {
  shape.described = true;
  switch (function.invkind) {
    case INVOKE_FUNC:
      shape.method = true;
      break;
    case INVOKE_PROPERTYGET:
      shape.get = true;
      shape.getParams = function.cParams;
      break;
    case INVOKE_PROPERTYPUT:
      shape.put = true;
      shape.putParams = function.cParams;
      break;
    case INVOKE_PROPERTYPUTREF:
      shape.putRef = true;
      shape.putParams = function.cParams;
      break;
  }
}

// Names compare as GetIDsOfNames compares them: ASCII letters without case.
std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// The members of a described type, read once from its type information: the DISPID
// of each name and the kinds each DISPID has. A table is made the first time an
// object of its type reaches a script and kept for the life of the process, keyed by
// the type's identifier, so that a call costs no type walk and no name lookup.
class TypeMembers {
 public:
  // The table of the object's type; null for an object without type information.
  static const TypeMembers* Of(IDispatch* object);

  // The DISPID of a name the type declares, or DISPID_UNKNOWN.
  DISPID IdOf(std::string_view name) const {
    const auto found = ids_.find(FoldedName(name));
    return found != ids_.end() ? found->second : DISPID_UNKNOWN;
  }
  MemberShape ShapeOf(DISPID id) const {
    const auto found = shapes_.find(id);
    return found != shapes_.end() ? found->second : MemberShape{};
  }
  // Whether the type has an ErrorDescription, which strict errors watch.
  bool HasErrorText() const { return IdOf("ErrorDescription") != DISPID_UNKNOWN; }

 private:
  void Read(ITypeInfo* info, const TYPEATTR& attributes);

  std::unordered_map<std::string, DISPID> ids_;
  std::unordered_map<DISPID, MemberShape> shapes_;
};

void TypeMembers::Read(ITypeInfo* info, const TYPEATTR& attributes) {
  for (UINT i = 0; i < attributes.cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    AddKind(*function, shapes_[function->memid]);
    BSTR name = nullptr;
    UINT names = 0;
    if (SUCCEEDED(info->GetNames(function->memid, &name, 1, &names)) && names == 1) {
      ids_.emplace(FoldedName(Utf16ToEngineText(BstrView(name))), function->memid);
    }
    SysFreeString(name);
    info->ReleaseFuncDesc(function);
  }
}

const TypeMembers* TypeMembers::Of(IDispatch* object) {
  static std::mutex lock;
  static std::map<std::string, std::unique_ptr<TypeMembers>> tables;
  UINT count = 0;
  ITypeInfo* info = nullptr;
  if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
      FAILED(object->GetTypeInfo(0, 0, &info)) || info == nullptr) {
    return nullptr;
  }
  const TypeMembers* members = nullptr;
  TYPEATTR* attributes = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
    // A type without an identifier cannot be told from another: it gets no table.
    static constexpr GUID kNoIdentifier{};
    if (std::memcmp(&attributes->guid, &kNoIdentifier, sizeof(GUID)) != 0) {
      const std::string key(reinterpret_cast<const char*>(&attributes->guid), sizeof(GUID));
      std::lock_guard<std::mutex> hold(lock);
      std::unique_ptr<TypeMembers>& table = tables[key];
      if (!table) {
        table = std::make_unique<TypeMembers>();
        table->Read(info, *attributes);
      }
      members = table.get();
    }
    info->ReleaseTypeAttr(attributes);
  }
  info->Release();
  return members;
}

// The outcome of one call, kept apart from the engine so that nothing needing cleanup
// is alive when an error is thrown (the engine unwinds with longjmp).
struct Outcome {
  HRESULT hr = S_OK;
  Variant value;
  std::u16string description;
  std::string problem;  // a script value that could not be passed

  bool Failed() const { return FAILED(hr) || !problem.empty(); }
};

// The VARIANTs of one call's arguments: a few in place, more on the heap.
class ArgumentVector {
 public:
  explicit ArgumentVector(size_t count) : count_(count) {
    if (count > kInPlace) onHeap_.resize(count);
    for (size_t i = 0; i < count; ++i) VariantInit(&Data()[i]);
  }
  ~ArgumentVector() {
    for (size_t i = 0; i < count_; ++i) VariantClear(&Data()[i]);
  }
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;
  VARIANT* Data() { return count_ > kInPlace ? onHeap_.data() : inPlace_; }

 private:
  static constexpr size_t kInPlace = 8;
  size_t count_;
  VARIANT inPlace_[kInPlace];
  std::vector<VARIANT> onHeap_;
};

// Invokes `id` with the script arguments at [first, first + count). With a put flag
// the last argument is the value, passed as the named DISPID_PROPERTYPUT argument.
void Invoke(duk_context* ctx, IDispatch* object, DISPID id, WORD flags, duk_idx_t first,
            duk_idx_t count, Outcome& outcome) {
  ArgumentVector arguments(static_cast<size_t>(count));
  VARIANT* values = arguments.Data();
  for (duk_idx_t k = 0; k < count; ++k) {
    // rgvarg holds the arguments in reverse order.
    if (!ToVariant(ctx, first + k, &values[static_cast<size_t>(count - 1 - k)], &outcome.problem)) {
      return;
    }
  }
  DISPID putId = DISPID_PROPERTYPUT;
  const bool isPut = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  DISPPARAMS params = {values, isPut ? &putId : nullptr, static_cast<UINT>(count),
                       isPut && count > 0 ? 1u : 0u};
  EXCEPINFO exception{};
  UINT argumentError = 0;
  outcome.hr =
      object->Invoke(id, IID_NULL, 0, flags, &params, &outcome.value, &exception, &argumentError);
  if (outcome.hr == DISP_E_EXCEPTION) {
    if (exception.scode != 0) outcome.hr = exception.scode;
    outcome.description = BstrView(exception.bstrDescription);
  }
  ClearExcepInfo(&exception);
}

// Pushes the outcome's value or its error; true when the error must be thrown.
bool PushOutcome(duk_context* ctx, Outcome& outcome, const std::string& what) {
  if (!outcome.problem.empty()) {
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR, "%s: %s", what.c_str(), outcome.problem.c_str());
    return true;
  }
  if (FAILED(outcome.hr)) {
    PushAutomationError(ctx, outcome.hr, outcome.description, what);
    return true;
  }
  std::string problem;
  if (!PushVariant(ctx, outcome.value, &problem)) {
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR, "%s: %s", what.c_str(), problem.c_str());
    return true;
  }
  return false;
}

// What a function implemented here leaves for the engine. Functions do their work in
// a helper that returns one of these, so that when an error is thrown (the engine
// unwinds with longjmp) no C++ object is alive in any frame it skips.
enum class Reply { kValue, kNothing, kThrow };

duk_ret_t Answer(duk_context* ctx, Reply reply) {
  if (reply == Reply::kThrow) return duk_throw(ctx);
  return reply == Reply::kValue ? 1 : 0;
}

// The object's ErrorDescription, or nothing when it has none.
std::optional<std::u16string> ErrorDescriptionOf(IDispatch* object) {
  static constexpr char16_t kName[] = u"ErrorDescription";
  Bstr name(kName);
  LPOLESTR names[] = {name.Get()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return std::nullopt;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Variant text;
  if (FAILED(
          object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &text, nullptr, nullptr)) ||
      text.vt != VT_BSTR) {
    return std::nullopt;
  }
  return std::u16string(BstrView(text.bstrVal));
}

// Strict errors: a call that succeeded but grew the object's ErrorDescription fails
// with the text it appended.
void FailOnNewErrorText(IDispatch* object, const std::optional<std::u16string>& before,
                        Outcome& outcome) {
  if (!before || FAILED(outcome.hr) || !outcome.problem.empty()) return;
  const std::optional<std::u16string> after = ErrorDescriptionOf(object);
  if (!after || after->size() <= before->size()) return;
  std::u16string added = after->substr(before->size());
  while (!added.empty() && (added.back() == u'\n' || added.back() == u'\r')) added.pop_back();
  outcome.hr = DISP_E_EXCEPTION;
  outcome.description = std::move(added);
}

// Calls, with strict errors when the heap asks for them. `mayGrowErrorText` is false
// for an object known to have no ErrorDescription, for which strictness changes nothing.
void CallInto(duk_context* ctx, IDispatch* object, DISPID id, WORD flags, duk_idx_t first,
              duk_idx_t count, Outcome& outcome, bool mayGrowErrorText = true) {
  const bool strict = (flags & DISPATCH_METHOD) != 0 && mayGrowErrorText && StrictErrors(ctx);
  const std::optional<std::u16string> before = strict ? ErrorDescriptionOf(object) : std::nullopt;
  Invoke(ctx, object, id, flags, first, count, outcome);
  if (strict) FailOnNewErrorText(object, before, outcome);
}

// Calls and leaves the result, or the error to throw, on the stack.
Reply Call(duk_context* ctx, IDispatch* object, DISPID id, WORD flags, duk_idx_t first,
           duk_idx_t count, const std::string& what) {
  Outcome outcome;
  CallInto(ctx, object, id, flags, first, count, outcome);
  return PushOutcome(ctx, outcome, what) ? Reply::kThrow : Reply::kValue;
}

IDispatch* DispatchOfTarget(duk_context* ctx, duk_idx_t target) {
  duk_get_prop_literal(ctx, target, kDispatchKey);
  auto* object = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return object;
}

const TypeMembers* MembersOfTarget(duk_context* ctx, duk_idx_t target) {
  duk_get_prop_literal(ctx, target, kMembersKey);
  const auto* members = static_cast<const TypeMembers*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return members;
}

std::string NameAt(duk_context* ctx, duk_idx_t index) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, index, &length);
  return text != nullptr ? std::string(text, length) : std::string();
}

// The DISPID of a name, from the type's table or else from the object; S_OK, or the
// failure of GetIDsOfNames.
HRESULT IdOfName(IDispatch* object, const TypeMembers* members, const std::string& name,
                 DISPID* id) {
  if (members != nullptr && (*id = members->IdOf(name)) != DISPID_UNKNOWN) return S_OK;
  const std::u16string wide = EngineTextToUtf16(name);
  Bstr text(wide);
  LPOLESTR names[] = {text.Get()};
  return object->GetIDsOfNames(IID_NULL, names, 1, 0, id);
}

Reply UnknownName(duk_context* ctx, HRESULT hr, const std::string& name) {
  PushAutomationError(ctx, hr, u"", "no member named '" + name + "'");
  return Reply::kThrow;
}

// What a member function calls, kept in one hidden buffer so that a call reads one
// property. The function holds a reference to the object of its own, released when it
// is collected, so that it works after the object's script value is gone without
// keeping that value alive.
struct MemberCallee {
  IDispatch* object;
  DISPID id;
  WORD flags;
  bool mayGrowErrorText;
};

MemberCallee* CalleeOf(duk_context* ctx, duk_idx_t function) {
  duk_get_prop_literal(ctx, function, kCalleeKey);
  auto* callee = static_cast<MemberCallee*>(duk_get_buffer(ctx, -1, nullptr));
  duk_pop(ctx);
  return callee;
}

// The member's name, for messages.
std::string MemberName(duk_context* ctx, duk_idx_t function) {
  duk_get_prop_literal(ctx, function, kNameKey);
  std::string name = NameAt(ctx, -1);
  duk_pop(ctx);
  return name;
}

Reply CallBoundMember(duk_context* ctx, bool put) {
  const duk_idx_t count = duk_get_top(ctx);
  if (put) {
    duk_push_this(ctx);  // `member.put(...)`: the member function
  } else {
    duk_push_current_function(ctx);
  }
  const MemberCallee* callee = duk_is_function(ctx, -1) ? CalleeOf(ctx, -1) : nullptr;
  if (callee == nullptr || callee->object == nullptr) {
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR, "not an automation member");
    return Reply::kThrow;
  }
  Outcome outcome;
  CallInto(ctx, callee->object, callee->id, put ? DISPATCH_PROPERTYPUT : callee->flags, 0, count,
           outcome, callee->mayGrowErrorText);
  if (!outcome.Failed()) {
    duk_pop(ctx);
    return PushOutcome(ctx, outcome, {}) ? Reply::kThrow : Reply::kValue;
  }
  const std::string name = MemberName(ctx, -1);
  duk_pop(ctx);
  return PushOutcome(ctx, outcome, name) ? Reply::kThrow : Reply::kValue;
}

duk_ret_t MemberCall(duk_context* ctx) { return Answer(ctx, CallBoundMember(ctx, false)); }

duk_ret_t MemberPut(duk_context* ctx) { return Answer(ctx, CallBoundMember(ctx, true)); }

duk_ret_t ReleaseObject(duk_context* ctx) {
  IDispatch* object = DispatchOfTarget(ctx, 0);
  if (object != nullptr) object->Release();
  duk_push_pointer(ctx, nullptr);
  duk_put_prop_literal(ctx, 0, kDispatchKey);
  return 0;
}

duk_ret_t ReleaseCallee(duk_context* ctx) {
  MemberCallee* callee = CalleeOf(ctx, 0);
  if (callee != nullptr && callee->object != nullptr) {
    callee->object->Release();
    callee->object = nullptr;
  }
  return 0;
}

// Pushes the function that stands for a member with parameters.
void PushMemberFunction(duk_context* ctx, IDispatch* object, const TypeMembers* members, DISPID id,
                        WORD flags, const std::string& name) {
  duk_push_c_function(ctx, MemberCall, DUK_VARARGS);
  auto* callee = static_cast<MemberCallee*>(duk_push_fixed_buffer(ctx, sizeof(MemberCallee)));
  *callee = MemberCallee{object, id, flags, members == nullptr || members->HasErrorText()};
  object->AddRef();
  duk_put_prop_literal(ctx, -2, kCalleeKey);
  duk_push_c_function(ctx, ReleaseCallee, 1);
  duk_set_finalizer(ctx, -2);
  duk_push_lstring(ctx, name.data(), name.size());
  duk_put_prop_literal(ctx, -2, kNameKey);
  duk_push_global_stash(ctx);
  duk_get_prop_literal(ctx, -1, kPutKey);
  duk_remove(ctx, -2);
  duk_put_prop_literal(ctx, -2, "put");
}

// The member functions of a described object are made once per name and kept on its
// target: a described member's shape never changes. True, with the function pushed,
// when the target has one for the key at `key`.
bool PushKeptFunction(duk_context* ctx, duk_idx_t target, duk_idx_t key) {
  if (!duk_get_prop_literal(ctx, target, kFunctionsKey)) {
    duk_pop(ctx);
    return false;
  }
  duk_dup(ctx, key);
  if (duk_get_prop(ctx, -2)) {
    duk_remove(ctx, -2);
    return true;
  }
  duk_pop_2(ctx);
  return false;
}

// Keeps the function on top of the stack (left there) for the key at `key`.
void KeepFunction(duk_context* ctx, duk_idx_t target, duk_idx_t key) {
  if (!duk_get_prop_literal(ctx, target, kFunctionsKey)) {
    duk_pop(ctx);
    duk_push_bare_object(ctx);
    duk_dup_top(ctx);
    duk_put_prop_literal(ctx, target, kFunctionsKey);
  }
  duk_dup(ctx, key);
  duk_dup(ctx, -3);
  duk_put_prop(ctx, -3);
  duk_pop(ctx);
}

// Pushes the value of the object's default member (DISPID_VALUE) read without
// arguments when it is a primitive (a collection item's whole text); false, with
// nothing pushed, when there is none.
bool PushDefaultValue(duk_context* ctx, duk_idx_t index) {
  IDispatch* object = AutomationObjectAt(ctx, index);
  if (object == nullptr) return false;
  Outcome outcome;
  Invoke(ctx, object, DISPID_VALUE, DISPATCH_PROPERTYGET, 0, 0, outcome);
  const VARTYPE type = outcome.value.vt & ~VT_BYREF;
  if (FAILED(outcome.hr) || type == VT_DISPATCH || type == VT_UNKNOWN || (type & VT_ARRAY)) {
    return false;
  }
  std::string problem;
  return PushVariant(ctx, outcome.value, &problem);
}

// valueOf and toString of an object that has no member of that name: the default
// member's value, as script hosts convert objects; an object without one is itself
// (valueOf) or "[object Automation]" (toString).
duk_ret_t ValueOf(duk_context* ctx) {
  duk_push_this(ctx);
  if (!PushDefaultValue(ctx, -1)) duk_push_this(ctx);
  return 1;
}

duk_ret_t DescribeObject(duk_context* ctx) {
  duk_push_this(ctx);
  if (PushDefaultValue(ctx, -1)) {
    duk_to_string(ctx, -1);
  } else {
    duk_push_string(ctx, "[object Automation]");
  }
  return 1;
}

// get(target, key, receiver)
Reply GetMember(duk_context* ctx) {
  if (duk_is_symbol(ctx, 1) || !duk_is_string(ctx, 1)) return Reply::kNothing;
  if (PushKeptFunction(ctx, 0, 1)) return Reply::kValue;
  IDispatch* object = DispatchOfTarget(ctx, 0);
  const TypeMembers* members = MembersOfTarget(ctx, 0);
  const std::string name = NameAt(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  const HRESULT known = object != nullptr ? IdOfName(object, members, name, &id) : E_POINTER;
  if (FAILED(known)) {
    // Names the engine itself asks for when it prints or converts an object.
    if (name == "toString") {
      duk_push_c_function(ctx, DescribeObject, 0);
      return Reply::kValue;
    }
    if (name == "valueOf") {
      duk_push_c_function(ctx, ValueOf, 0);
      return Reply::kValue;
    }
    if (name == "toJSON" || name == "inspect" || name == "constructor") {
      return Reply::kNothing;
    }
    return UnknownName(ctx, known, name);
  }
  const MemberShape shape = members != nullptr ? members->ShapeOf(id) : MemberShape{};
  if (!shape.described) {
    Outcome outcome;
    Invoke(ctx, object, id, DISPATCH_PROPERTYGET, 0, 0, outcome);
    const bool callable = outcome.hr == DISP_E_BADPARAMCOUNT ||
                          outcome.hr == DISP_E_PARAMNOTOPTIONAL ||
                          outcome.hr == DISP_E_MEMBERNOTFOUND;
    if (!callable) return PushOutcome(ctx, outcome, name) ? Reply::kThrow : Reply::kValue;
    PushMemberFunction(ctx, object, nullptr, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, name);
    return Reply::kValue;
  }
  if (shape.get && shape.getParams == 0) {
    return Call(ctx, object, id, DISPATCH_PROPERTYGET, 0, 0, name);
  }
  if (shape.method || shape.get || shape.putParams > 1) {
    const WORD flags = shape.method ? DISPATCH_METHOD | (shape.get ? DISPATCH_PROPERTYGET : 0)
                                    : DISPATCH_PROPERTYGET;
    PushMemberFunction(ctx, object, members, id, flags, name);
    KeepFunction(ctx, 0, 1);
    return Reply::kValue;
  }
  // A write-only property read as a value: the object answers for itself.
  return Call(ctx, object, id, DISPATCH_PROPERTYGET, 0, 0, name);
}

duk_ret_t GetTrap(duk_context* ctx) { return Answer(ctx, GetMember(ctx)); }

// set(target, key, value, receiver)
Reply SetMember(duk_context* ctx) {
  if (duk_is_symbol(ctx, 1) || !duk_is_string(ctx, 1)) {
    duk_push_false(ctx);
    return Reply::kValue;
  }
  IDispatch* object = DispatchOfTarget(ctx, 0);
  const std::string name = NameAt(ctx, 1);
  DISPID id = DISPID_UNKNOWN;
  const HRESULT known =
      object != nullptr ? IdOfName(object, MembersOfTarget(ctx, 0), name, &id) : E_POINTER;
  if (FAILED(known)) return UnknownName(ctx, known, name);
  const bool isObject = AutomationObjectAt(ctx, 2) != nullptr;
  Outcome outcome;
  Invoke(ctx, object, id, DISPATCH_PROPERTYPUT, 2, 1, outcome);
  if (outcome.hr == DISP_E_MEMBERNOTFOUND && isObject) {
    Outcome byReference;
    Invoke(ctx, object, id, DISPATCH_PROPERTYPUTREF, 2, 1, byReference);
    if (PushOutcome(ctx, byReference, name)) return Reply::kThrow;
  } else if (PushOutcome(ctx, outcome, name)) {
    return Reply::kThrow;
  }
  duk_pop(ctx);
  duk_push_true(ctx);
  return Reply::kValue;
}

duk_ret_t SetTrap(duk_context* ctx) { return Answer(ctx, SetMember(ctx)); }

// apply(target, this, arguments): the default member.
Reply CallDefaultMember(duk_context* ctx) {
  IDispatch* object = DispatchOfTarget(ctx, 0);
  if (object == nullptr) {
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR, "not an automation object");
    return Reply::kThrow;
  }
  const auto count = static_cast<duk_idx_t>(duk_get_length(ctx, 2));
  const duk_idx_t first = duk_get_top(ctx);
  for (duk_idx_t k = 0; k < count; ++k) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(k));
  return Call(ctx, object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, first, count,
              "default member");
}

duk_ret_t ApplyTrap(duk_context* ctx) { return Answer(ctx, CallDefaultMember(ctx)); }

// A target is only ever called through the apply trap.
duk_ret_t TargetBody(duk_context*) { return 0; }

// The shared handler and put function, made once per heap and kept in the stash.
void PushHandler(duk_context* ctx) {
  duk_push_global_stash(ctx);
  if (!duk_get_prop_literal(ctx, -1, kHandlerKey)) {
    duk_pop(ctx);
    duk_push_object(ctx);
    duk_push_c_function(ctx, GetTrap, 3);
    duk_put_prop_string(ctx, -2, "get");
    duk_push_c_function(ctx, SetTrap, 4);
    duk_put_prop_string(ctx, -2, "set");
    duk_push_c_function(ctx, ApplyTrap, 3);
    duk_put_prop_string(ctx, -2, "apply");
    duk_dup_top(ctx);
    duk_put_prop_literal(ctx, -3, kHandlerKey);
    duk_push_c_function(ctx, MemberPut, DUK_VARARGS);
    duk_put_prop_literal(ctx, -3, kPutKey);
  }
  duk_remove(ctx, -2);
}

}  // namespace

void PushAutomationError(duk_context* ctx, HRESULT hr, const std::u16string& description,
                         const std::string& what) {
  const std::string text = Utf16ToEngineText(description);
  const std::string message = text.empty() ? what + ": " + HresultText(hr) : text;
  duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", message.c_str());
  duk_push_int(ctx, hr);
  duk_put_prop_string(ctx, -2, "number");
  duk_push_lstring(ctx, text.data(), text.size());
  duk_put_prop_string(ctx, -2, "description");
}

void PushAutomationObject(duk_context* ctx, IDispatch* object) {
  duk_push_c_function(ctx, TargetBody, DUK_VARARGS);
  object->AddRef();
  duk_push_pointer(ctx, object);
  duk_put_prop_literal(ctx, -2, kDispatchKey);
  duk_push_pointer(ctx, const_cast<TypeMembers*>(TypeMembers::Of(object)));
  duk_put_prop_literal(ctx, -2, kMembersKey);
  duk_push_c_function(ctx, ReleaseObject, 1);
  duk_set_finalizer(ctx, -2);
  PushHandler(ctx);
  duk_push_proxy(ctx, 0);
}

IDispatch* AutomationObjectAt(duk_context* ctx, duk_idx_t index) {
  if (!duk_is_object(ctx, index)) return nullptr;
  duk_get_prop_literal(ctx, index, kDispatchKey);
  auto* object = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return object;
}

}  // namespace script
