// IDispatch driven by an interface description: GetIDsOfNames and Invoke for every
// member, with no code per member.
//
// Invoke finds the member by DISPID and by the kind the flags ask for, places the
// positional and named arguments (DISPID_PROPERTYPUT names the value of a put),
// supplies defaults for optional parameters left out, coerces every argument to its
// declared type, calls the member and returns its value. A member that fails makes
// Invoke return DISP_E_EXCEPTION with EXCEPINFO holding the member's HRESULT as scode
// and the description, source and help file of the error information it set.
#pragma once

#include <memory>

#include "platform/automation/type_description.h"
#include "platform/automation/type_info.h"

namespace automation {

// Names are matched without regard to ASCII letter case; names after the first are
// parameter names of that member, whose DISPIDs are their positions. Unknown names
// get DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
HRESULT DispatchGetIDsOfNames(const InterfaceDesc& description, LPOLESTR* names, UINT count,
                              DISPID* ids);

// Calls a member on `object`, which the member's binding receives as its interface
// pointer. Never throws; a member without a binding is DISP_E_MEMBERNOTFOUND.
HRESULT DispatchInvoke(const InterfaceDesc& description, void* object, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argumentError);

// One interface of a shared library description, ready for DispatchImpl.
struct BoundInterface {
  std::shared_ptr<const TypeLibraryDesc> library;
  const InterfaceDesc* description = nullptr;
  UINT typeIndex = 0;
};

// Finds the interface in the library; aborts when it is not there (a programming error
// in the module that describes it).
BoundInterface BindInterface(std::shared_ptr<const TypeLibraryDesc> library, REFIID iid);

}  // namespace automation

// Implements the IDispatch part of a dual interface from its description.
//   class Easel : public ComObject<DispatchImpl<IEasel, &EaselInterface>, ...>
template <typename Interface, const automation::BoundInterface& (*Describe)()>
class DispatchImpl : public Interface {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const automation::BoundInterface& bound = Describe();
    return automation::CreateTypeInfo(bound.library, bound.typeIndex, info);
  }
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!(iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return automation::DispatchGetIDsOfNames(*Describe().description, names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override {
    if (!(iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return automation::DispatchInvoke(*Describe().description, static_cast<Interface*>(this), id,
                                      flags, params, result, exception, argumentError);
  }

 protected:
  ~DispatchImpl() = default;
};
