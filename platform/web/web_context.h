// The web object context: the page a thread is serving, as the objects a page script
// creates see it. A host sets the current context of a thread for the request it
// serves (ObjectContextScope); GetObjectContext hands it to any object called on that
// thread, and IGetContextProperties::GetProperty gives the page's "Response" and
// "Request" objects.
//
// IResponse and IRequest carry the members the image generator's output to the
// browser uses; they are dual interfaces, described once (ResponseInterface(), ...)
// so that an implementation gets its IDispatch from DispatchImpl.
#pragma once

#include "platform/automation/dispatch.h"
#include "platform/com/object.h"

// CONTEXT_E_NOCONTEXT: the calling thread serves no page.
constexpr HRESULT CONTEXT_E_NOCONTEXT = MakeHresult(0x8004E004);

// {27F05C2E-712A-4E8E-9200-2B40634BCC7D}
constexpr IID IID_IObjectContext = {
    0x27F05C2E, 0x712A, 0x4E8E, {0x92, 0x00, 0x2B, 0x40, 0x63, 0x4B, 0xCC, 0x7D}};
// {783BD2B6-1006-4611-AAB8-0C2376163E07}
constexpr IID IID_IGetContextProperties = {
    0x783BD2B6, 0x1006, 0x4611, {0xAA, 0xB8, 0x0C, 0x23, 0x76, 0x16, 0x3E, 0x07}};
// {258952BE-5CDB-4D7F-83FB-31CD7A03EFCB}
constexpr IID IID_IResponse = {
    0x258952BE, 0x5CDB, 0x4D7F, {0x83, 0xFB, 0x31, 0xCD, 0x7A, 0x03, 0xEF, 0xCB}};
// {4B777144-9391-4282-A499-A7E95D49B5BE}
constexpr IID IID_IRequest = {
    0x4B777144, 0x9391, 0x4282, {0xA4, 0x99, 0xA7, 0xE9, 0x5D, 0x49, 0xB5, 0xBE}};
// {2D107C5C-83AF-4055-ACE2-49D974892D61}
constexpr IID IID_IRequestDictionary = {
    0x2D107C5C, 0x83AF, 0x4055, {0xAC, 0xE2, 0x49, 0xD9, 0x74, 0x89, 0x2D, 0x61}};
// {C39583E6-567E-41BA-9E0E-EFE720C25751}
constexpr GUID LIBID_VellumWebLib = {
    0xC39583E6, 0x567E, 0x41BA, {0x9E, 0x0E, 0xEF, 0xE7, 0x20, 0xC2, 0x57, 0x51}};

// The context of a page; what it offers is reached through QueryInterface.
class IObjectContext : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IObjectContext;

 protected:
  ~IObjectContext() = default;
};

class IGetContextProperties : public IUnknown {
 public:
  using Base = IUnknown;
  static constexpr const IID& kIid = IID_IGetContextProperties;
  // The property of that name ("Response", "Request") into `value` (initialised by
  // the caller); E_INVALIDARG for a name the context does not have.
  virtual HRESULT GetProperty(BSTR name, VARIANT* value) = 0;

 protected:
  ~IGetContextProperties() = default;
};

// The page's response. Buffer: whether output is held until the page ends (-1) or
// sent as it is written (0).
class IResponse : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IResponse;
  virtual HRESULT get_Buffer(VARIANT_BOOL* buffered) = 0;
  virtual HRESULT put_Buffer(VARIANT_BOOL buffered) = 0;
  virtual HRESULT get_ContentType(BSTR* type) = 0;
  virtual HRESULT put_ContentType(BSTR type) = 0;
  virtual HRESULT AddHeader(BSTR name, BSTR value) = 0;
  // Sends the bytes of a VT_ARRAY | VT_UI1 value.
  virtual HRESULT BinaryWrite(VARIANT data) = 0;
  // Discards the buffered output.
  virtual HRESULT Clear() = 0;
  virtual HRESULT get_IsClientConnected(VARIANT_BOOL* connected) = 0;
  // Sends a text, as UTF-8.
  virtual HRESULT Write(BSTR text) = 0;

 protected:
  ~IResponse() = default;
};

// A keyed collection of the request (its server variables).
class IRequestDictionary : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IRequestDictionary;
  // The value of a key (VT_EMPTY for a key it does not have).
  virtual HRESULT get_Item(VARIANT key, VARIANT* value) = 0;

 protected:
  ~IRequestDictionary() = default;
};

class IRequest : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IRequest;
  virtual HRESULT get_ServerVariables(IRequestDictionary** variables) = 0;
  // The decoded value of a query parameter (an empty string when the query lacks it).
  virtual HRESULT get_QueryString(BSTR name, BSTR* value) = 0;

 protected:
  ~IRequest() = default;
};

namespace web {

// The descriptions behind the IDispatch of the web interfaces.
const automation::BoundInterface& ResponseInterface();
const automation::BoundInterface& RequestInterface();
const automation::BoundInterface& RequestDictionaryInterface();

// A page's context over its response and request objects (held until it goes).
ComPtr<IObjectContext> MakePageContext(IDispatch* response, IDispatch* request);

// Makes `context` the calling thread's current context until the scope ends; the
// previous one (if any) is current again afterwards. The scope holds a reference.
class ObjectContextScope {
 public:
  explicit ObjectContextScope(IObjectContext* context);
  ~ObjectContextScope();
  ObjectContextScope(const ObjectContextScope&) = delete;
  ObjectContextScope& operator=(const ObjectContextScope&) = delete;

 private:
  IObjectContext* previous_;
};

}  // namespace web

// The calling thread's current context, with a new reference; CONTEXT_E_NOCONTEXT
// (and null) when the thread serves no page.
HRESULT GetObjectContext(IObjectContext** context);
