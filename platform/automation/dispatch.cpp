#include "platform/automation/dispatch.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "platform/com/error_info.h"

namespace automation {

namespace {

constexpr WORD kKnownFlags =
    DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;

bool IsPut(MemberKind kind) { return kind == MemberKind::kPut || kind == MemberKind::kPutRef; }

const MemberDesc* FindMember(const InterfaceDesc& description, DISPID id, MemberKind kind) {
  for (const MemberDesc& member : description.members) {
    if (member.id == id && member.kind == kind) return &member;
  }
  return nullptr;
}

// The member the flags ask for: a put or putref by its own flag; otherwise a method
// when DISPATCH_METHOD is set, else a property get when DISPATCH_PROPERTYGET is set.
const MemberDesc* SelectMember(const InterfaceDesc& description, DISPID id, WORD flags) {
  if (flags & DISPATCH_PROPERTYPUT) return FindMember(description, id, MemberKind::kPut);
  if (flags & DISPATCH_PROPERTYPUTREF) return FindMember(description, id, MemberKind::kPutRef);
  const MemberDesc* member = nullptr;
  if (flags & DISPATCH_METHOD) member = FindMember(description, id, MemberKind::kMethod);
  if (member == nullptr && (flags & DISPATCH_PROPERTYGET)) {
    member = FindMember(description, id, MemberKind::kGet);
  }
  return member;
}

bool IsMissing(const VARIANT* argument) {
  return argument != nullptr && argument->vt == VT_ERROR && argument->scode == DISP_E_PARAMNOTFOUND;
}

// Where each declared parameter's argument is in rgvarg (-1: not given).
struct Placement {
  std::array<int, kMaxParams> source;
  HRESULT result = S_OK;
  UINT errorIndex = 0;
};

Placement PlaceArguments(const MemberDesc& member, const DISPPARAMS& params) {
  Placement placement;
  placement.source.fill(-1);
  const size_t count = member.params.size();
  const bool isPut = IsPut(member.kind);
  const size_t indexCount = isPut ? count - 1 : count;  // parameters before a put's value
  auto fail = [&](HRESULT hr, UINT index) {
    placement.result = hr;
    placement.errorIndex = index;
    return placement;
  };
  for (UINT i = 0; i < params.cNamedArgs; ++i) {
    const DISPID named = params.rgdispidNamedArgs[i];
    size_t target = 0;
    if (named == DISPID_PROPERTYPUT && isPut) {
      target = count - 1;
    } else if (named >= 0 && static_cast<size_t>(named) < indexCount) {
      target = static_cast<size_t>(named);
    } else {
      return fail(DISP_E_PARAMNOTFOUND, i);
    }
    if (placement.source[target] >= 0) return fail(DISP_E_PARAMNOTFOUND, i);
    placement.source[target] = static_cast<int>(i);
  }
  // Positional arguments come last in rgvarg, the first one at the very end. A put
  // whose value is not named takes its last positional argument as the value.
  size_t positional = params.cArgs - params.cNamedArgs;
  if (isPut && placement.source[count - 1] < 0 && positional > 0) {
    placement.source[count - 1] = static_cast<int>(params.cNamedArgs);
    --positional;
  }
  if (positional > indexCount) return fail(DISP_E_BADPARAMCOUNT, 0);
  for (size_t k = 0; k < positional; ++k) {
    if (placement.source[k] >= 0) {
      return fail(DISP_E_PARAMNOTFOUND, static_cast<UINT>(placement.source[k]));
    }
    placement.source[k] = static_cast<int>(params.cArgs - 1 - k);
  }
  for (size_t k = 0; k < count; ++k) {
    const VARIANT* given = placement.source[k] >= 0 ? &params.rgvarg[placement.source[k]] : nullptr;
    if (member.params[k].optional || (given != nullptr && !IsMissing(given))) continue;
    if (given != nullptr) {
      return fail(DISP_E_PARAMNOTOPTIONAL, static_cast<UINT>(placement.source[k]));
    }
    return fail(params.cNamedArgs > 0 ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT, 0);
  }
  return placement;
}

// The arguments handed to a thunk. Coerced values are owned and cleared here;
// VARIANT parameters are the caller's own VARIANTs, passed by value and not owned.
class ArgumentList {
 public:
  ArgumentList() {
    for (VARIANT& value : values_) VariantInit(&value);
    owned_.fill(false);
  }
  ~ArgumentList() {
    for (size_t k = 0; k < values_.size(); ++k) {
      if (owned_[k]) VariantClear(&values_[k]);
    }
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  VARIANT* Data() { return values_.data(); }

  // Fills parameter k from the caller's argument (null when it was left out).
  HRESULT Fill(size_t k, const ParamDesc& param, const VARIANT* given) {
    if (given == nullptr || IsMissing(given)) return FillMissing(k, param);
    if (param.type.vt == VT_VARIANT) {
      values_[k] = *given;
      return S_OK;
    }
    owned_[k] = true;
    const HRESULT hr = VariantChangeType(&values_[k], given, 0, param.type.vt);
    if (SUCCEEDED(hr) || hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY) return hr;
    return DISP_E_TYPEMISMATCH;
  }

 private:
  // An optional parameter left out: its default value in the declared type; without a
  // default, a VARIANT parameter receives the "missing" marker and any other the
  // zero value of its type (a null string for BSTR).
  HRESULT FillMissing(size_t k, const ParamDesc& param) {
    VARIANT& value = values_[k];
    owned_[k] = true;
    if (!std::holds_alternative<std::monostate>(param.defaultValue)) {
      Variant constant;
      HRESULT hr = ConstantToVariant(param.defaultValue, &constant);
      if (SUCCEEDED(hr) && param.type.vt != VT_VARIANT) {
        hr = VariantChangeType(&value, &constant, 0, param.type.vt);
      } else if (SUCCEEDED(hr)) {
        value = constant.Detach();
      }
      return hr;
    }
    if (param.type.vt == VT_VARIANT) {
      value.vt = VT_ERROR;
      value.scode = DISP_E_PARAMNOTFOUND;
    } else {
      value.vt = param.type.vt;
    }
    return S_OK;
  }

  std::array<VARIANT, kMaxParams> values_;
  std::array<bool, kMaxParams> owned_;
};

// Moves the thread's error information into EXCEPINFO for a member that failed.
void FillException(HRESULT failure, EXCEPINFO* exception) {
  if (exception == nullptr) return;
  *exception = {};
  exception->scode = failure;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return;
  info->GetSource(&exception->bstrSource);
  info->GetDescription(&exception->bstrDescription);
  info->GetHelpFile(&exception->bstrHelpFile);
  info->GetHelpContext(&exception->dwHelpContext);
  info->Release();
}

HRESULT CallMember(const MemberDesc& member, void* object, VARIANT* arguments, VARIANT* value) {
  // Error information left from an earlier call must not be taken for this one's.
  SetErrorInfo(0, nullptr);
  try {
    const HRESULT hr = member.binding.thunk(object, arguments, value);
    if (SUCCEEDED(hr) && member.result.vt != VT_VARIANT && member.result.vt != VT_EMPTY) {
      value->vt = member.result.vt;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

HRESULT DispatchGetIDsOfNames(const InterfaceDesc& description, LPOLESTR* names, UINT count,
                              DISPID* ids) {
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  const std::u16string_view name(names[0]);
  const MemberDesc* found = nullptr;
  for (const MemberDesc& member : description.members) {
    if (NamesEqual(name, member.name)) {
      found = &member;
      break;
    }
  }
  if (found == nullptr) return DISP_E_UNKNOWNNAME;
  ids[0] = found->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (size_t k = 0; names[i] != nullptr && k < found->params.size(); ++k) {
      if (NamesEqual(std::u16string_view(names[i]), found->params[k].name)) {
        ids[i] = static_cast<DISPID>(k);
        break;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchInvoke(const InterfaceDesc& description, void* object, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argumentError) {
  if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr) ||
      params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  if (flags == 0 || (flags & ~kKnownFlags)) return DISP_E_MEMBERNOTFOUND;
  const MemberDesc* member = SelectMember(description, id, flags);
  if (member == nullptr || member->binding.thunk == nullptr) return DISP_E_MEMBERNOTFOUND;

  const Placement placement = PlaceArguments(*member, *params);
  if (FAILED(placement.result)) {
    if (argumentError != nullptr) *argumentError = placement.errorIndex;
    return placement.result;
  }
  ArgumentList arguments;
  for (size_t k = 0; k < member->params.size(); ++k) {
    const int source = placement.source[k];
    const VARIANT* given = source >= 0 ? &params->rgvarg[source] : nullptr;
    const HRESULT hr = arguments.Fill(k, member->params[k], given);
    if (FAILED(hr)) {
      if (argumentError != nullptr && source >= 0) *argumentError = static_cast<UINT>(source);
      return hr;
    }
  }

  Variant value;
  const HRESULT hr = CallMember(*member, object, arguments.Data(), &value);
  if (FAILED(hr)) {
    FillException(hr, exception);
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr && !IsPut(member->kind)) {
    VariantClear(result);
    *result = value.Detach();
  }
  return hr;
}

BoundInterface BindInterface(std::shared_ptr<const TypeLibraryDesc> library, REFIID iid) {
  const size_t first = library->enums.size();
  for (size_t i = 0; i < library->interfaces.size(); ++i) {
    if (library->interfaces[i].iid == iid) {
      const InterfaceDesc* description = &library->interfaces[i];
      return {std::move(library), description, static_cast<UINT>(first + i)};
    }
  }
  std::fprintf(stderr, "automation: interface %s is not in its library\n",
               GuidToString(iid).c_str());
  std::abort();
}

}  // namespace automation
