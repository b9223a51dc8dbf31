// The interfaces of the object runtime as C++ abstract classes with the platform's
// table layout: every method is virtual, in the platform's order, and returns an
// HRESULT (reference counts excepted).
//
// Each interface names its identifier (kIid) and the interface it extends (Base), so
// that an object's QueryInterface can answer for the whole chain. Destructors are
// protected: an object is destroyed by its last Release, never through an interface.
#pragma once

#include "platform/com/variant.h"

using DISPID = LONG;
using MEMBERID = DISPID;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// The arguments of IDispatch::Invoke: rgvarg holds them in reverse order (the last
// argument first); the first cNamedArgs entries are the named ones, whose DISPIDs
// are in rgdispidNamedArgs.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

// What IDispatch::Invoke reports with DISP_E_EXCEPTION. The receiver frees the strings.
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Frees the strings of an EXCEPINFO and zeroes it.
void ClearExcepInfo(EXCEPINFO* info);

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

class ITypeInfo;
class IStream;

class IUnknown {
 public:
  static constexpr const IID& kIid = IID_IUnknown;
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IDispatch : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IDispatch;
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;

 protected:
  ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IClassFactory;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

class ISupportErrorInfo : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_ISupportErrorInfo;
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

class IErrorInfo : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IErrorInfo;
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
  virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

class ICreateErrorInfo : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_ICreateErrorInfo;
  virtual HRESULT SetGUID(REFGUID guid) = 0;
  virtual HRESULT SetSource(LPOLESTR source) = 0;
  virtual HRESULT SetDescription(LPOLESTR description) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD helpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

class IEnumVARIANT : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IEnumVARIANT;
  virtual HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumVARIANT** copy) = 0;

 protected:
  ~IEnumVARIANT() = default;
};

class IMarshal : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IMarshal;
  virtual HRESULT GetUnmarshalClass(REFIID iid, void* object, DWORD destinationContext,
                                    void* reserved, DWORD flags, CLSID* clsid) = 0;
  virtual HRESULT GetMarshalSizeMax(REFIID iid, void* object, DWORD destinationContext,
                                    void* reserved, DWORD flags, DWORD* size) = 0;
  virtual HRESULT MarshalInterface(IStream* stream, REFIID iid, void* object,
                                   DWORD destinationContext, void* reserved, DWORD flags) = 0;
  virtual HRESULT UnmarshalInterface(IStream* stream, REFIID iid, void** object) = 0;
  virtual HRESULT ReleaseMarshalData(IStream* stream) = 0;
  virtual HRESULT DisconnectObject(DWORD reserved) = 0;

 protected:
  ~IMarshal() = default;
};
