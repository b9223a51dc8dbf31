// The interfaces of the objects a page sees: Request, Response, Server, Application,
// Session and the collections they hand out. Each is a dual interface described once
// in the pages type library (page_library.cpp), so that an implementation takes its
// IDispatch from DispatchImpl. Request and Response extend the web context's IRequest
// and IResponse, so the image generator's output to the browser finds them through
// the page's object context.
//
// Members marked [default] have DISPID_VALUE: `Request("name")`, `Application("n")`.
#pragma once

#include "platform/automation/dispatch.h"
#include "platform/web/web_context.h"

// {3ECD284A-AB36-4783-ABE3-A74576F554FA}
constexpr GUID LIBID_VellumPagesLib = {
    0x3ECD284A, 0xAB36, 0x4783, {0xAB, 0xE3, 0xA7, 0x45, 0x76, 0xF5, 0x54, 0xFA}};
// {8532CFDB-4DC4-4D34-9981-41383A9A2CC4}
constexpr IID IID_IPageDictionary = {
    0x8532CFDB, 0x4DC4, 0x4D34, {0x99, 0x81, 0x41, 0x38, 0x3A, 0x9A, 0x2C, 0xC4}};
// {086338BD-7EB4-4752-A285-4DF5E7C167E2}
constexpr IID IID_IStringList = {
    0x086338BD, 0x7EB4, 0x4752, {0xA2, 0x85, 0x4D, 0xF5, 0xE7, 0xC1, 0x67, 0xE2}};
// {C5F51E06-0B8C-4EBF-AA91-476C6DFED73E}
constexpr IID IID_IUploadedFiles = {
    0xC5F51E06, 0x0B8C, 0x4EBF, {0xAA, 0x91, 0x47, 0x6C, 0x6D, 0xFE, 0xD7, 0x3E}};
// {38371E43-603A-4AB3-845C-26F243604F32}
constexpr IID IID_IUploadedFile = {
    0x38371E43, 0x603A, 0x4AB3, {0x84, 0x5C, 0x26, 0xF2, 0x43, 0x60, 0x4F, 0x32}};
// {4938CF7F-58E6-400E-891D-304340A7ACAE}
constexpr IID IID_IPageRequest = {
    0x4938CF7F, 0x58E6, 0x400E, {0x89, 0x1D, 0x30, 0x43, 0x40, 0xA7, 0xAC, 0xAE}};
// {E4928EC6-23F2-4226-9A83-8998EF3AD908}
constexpr IID IID_IWriteCookies = {
    0xE4928EC6, 0x23F2, 0x4226, {0x9A, 0x83, 0x89, 0x98, 0xEF, 0x3A, 0xD9, 0x08}};
// {C5ADBDAB-97D5-4B4A-A5AD-ADA5810C49C8}
constexpr IID IID_IWriteCookie = {
    0xC5ADBDAB, 0x97D5, 0x4B4A, {0xA5, 0xAD, 0xAD, 0xA5, 0x81, 0x0C, 0x49, 0xC8}};
// {8EEE27BF-299F-4A2A-97FB-D156AF502F43}
constexpr IID IID_IPageResponse = {
    0x8EEE27BF, 0x299F, 0x4A2A, {0x97, 0xFB, 0xD1, 0x56, 0xAF, 0x50, 0x2F, 0x43}};
// {DB2FD95F-2DF4-403E-9501-DA59BA3AB785}
constexpr IID IID_IPageServer = {
    0xDB2FD95F, 0x2DF4, 0x403E, {0x95, 0x01, 0xDA, 0x59, 0xBA, 0x3A, 0xB7, 0x85}};
// {3C2A39E0-1C2F-408C-B5B7-373C7B520BAE}
constexpr IID IID_IPageError = {
    0x3C2A39E0, 0x1C2F, 0x408C, {0xB5, 0xB7, 0x37, 0x3C, 0x7B, 0x52, 0x0B, 0xAE}};
// {3D9C4C79-0DDB-4359-9872-B78047FCDE04}
constexpr IID IID_IPageApplication = {
    0x3D9C4C79, 0x0DDB, 0x4359, {0x98, 0x72, 0xB7, 0x80, 0x47, 0xFC, 0xDE, 0x04}};
// {8BFCE598-F0FE-4F78-BB62-16F7458FF87D}
constexpr IID IID_IPageContents = {
    0x8BFCE598, 0xF0FE, 0x4F78, {0xBB, 0x62, 0x16, 0xF7, 0x45, 0x8F, 0xF8, 0x7D}};
// {2947920B-5C8B-41A5-AF0C-CAC8D32C9B62}
constexpr IID IID_IPageSession = {
    0x2947920B, 0x5C8B, 0x41A5, {0xAF, 0x0C, 0xCA, 0xC8, 0xD3, 0x2C, 0x9B, 0x62}};

// A keyed collection of the request: QueryString, Form, Cookies, ServerVariables.
// Item(name) [default] is the values sent under that name (an IStringList, empty when
// none were); Item(n) the n-th name's values (from 1); Item() the whole text.
// Enumeration gives the names.
class IPageDictionary : public IRequestDictionary {
 public:
  using Base = IRequestDictionary;
  static constexpr const IID& kIid = IID_IPageDictionary;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_Key(VARIANT index, VARIANT* name) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IPageDictionary() = default;
};

// The values of one name. Item() [default] is all of them joined with ", "
// (VT_EMPTY when there are none), Item(n) the n-th (from 1).
class IStringList : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IStringList;
  virtual HRESULT get_Item(VARIANT index, VARIANT* value) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IStringList() = default;
};

// A file sent in a multipart/form-data body.
class IUploadedFile : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IUploadedFile;
  virtual HRESULT get_Name(BSTR* field) = 0;  // the form field
  virtual HRESULT get_FileName(BSTR* name) = 0;
  virtual HRESULT get_ContentType(BSTR* type) = 0;
  virtual HRESULT get_Size(LONG* bytes) = 0;
  virtual HRESULT get_Bytes(VARIANT* bytes) = 0;  // VT_ARRAY | VT_UI1

 protected:
  ~IUploadedFile() = default;
};

// Request.Files: Item(field) [default] is the first file sent under that field (null
// when none), Item(n) the n-th file (from 1); Key(n) its field. Enumeration gives the
// fields, one per file.
class IUploadedFiles : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IUploadedFiles;
  virtual HRESULT get_Item(VARIANT key, VARIANT* file) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_Key(VARIANT index, VARIANT* field) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IUploadedFiles() = default;
};

class IPageRequest : public IRequest {
 public:
  using Base = IRequest;
  static constexpr const IID& kIid = IID_IPageRequest;
  // QueryString (IRequest's get_QueryString gives one decoded value early-bound).
  virtual HRESULT get_QueryStringCollection(IRequestDictionary** collection) = 0;
  virtual HRESULT get_Form(IRequestDictionary** collection) = 0;
  virtual HRESULT get_Cookies(IRequestDictionary** collection) = 0;
  virtual HRESULT get_Files(IUploadedFiles** files) = 0;
  virtual HRESULT get_TotalBytes(LONG* bytes) = 0;
  // The next `count` bytes of the body (fewer at its end), as VT_ARRAY | VT_UI1.
  virtual HRESULT BinaryRead(LONG count, VARIANT* bytes) = 0;
  // [default] the values of `name` in QueryString, else Form, Cookies, ServerVariables.
  virtual HRESULT get_Item(BSTR name, VARIANT* values) = 0;

 protected:
  ~IPageRequest() = default;
};

// One cookie the response sets (Response.Cookies("name")).
class IWriteCookie : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IWriteCookie;
  virtual HRESULT get_Item(BSTR* value) = 0;  // [default]
  virtual HRESULT put_Item(BSTR value) = 0;
  // When the cookie expires: a date (VT_DATE, or a script Date); VT_EMPTY for the end
  // of the browser session.
  virtual HRESULT get_Expires(VARIANT* when) = 0;
  virtual HRESULT put_Expires(VARIANT when) = 0;
  virtual HRESULT get_Path(BSTR* path) = 0;
  virtual HRESULT put_Path(BSTR path) = 0;
  virtual HRESULT get_Domain(BSTR* domain) = 0;
  virtual HRESULT put_Domain(BSTR domain) = 0;
  virtual HRESULT get_Secure(VARIANT_BOOL* secure) = 0;
  virtual HRESULT put_Secure(VARIANT_BOOL secure) = 0;
  virtual HRESULT get_HttpOnly(VARIANT_BOOL* httpOnly) = 0;
  virtual HRESULT put_HttpOnly(VARIANT_BOOL httpOnly) = 0;
  virtual HRESULT get_SameSite(BSTR* mode) = 0;  // "", "Lax", "Strict" or "None"
  virtual HRESULT put_SameSite(BSTR mode) = 0;

 protected:
  ~IWriteCookie() = default;
};

// Response.Cookies: Item(name) [default] is the cookie of that name, made on first use.
class IWriteCookies : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IWriteCookies;
  virtual HRESULT get_Item(BSTR name, IWriteCookie** cookie) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_Key(VARIANT index, VARIANT* name) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IWriteCookies() = default;
};

class IPageResponse : public IResponse {
 public:
  using Base = IResponse;
  static constexpr const IID& kIid = IID_IPageResponse;
  // Write: any value as text (IResponse's Write takes a string early-bound).
  virtual HRESULT WriteValue(VARIANT value) = 0;
  virtual HRESULT get_Charset(BSTR* charset) = 0;
  virtual HRESULT put_Charset(BSTR charset) = 0;
  virtual HRESULT get_Status(BSTR* status) = 0;  // "200 OK"
  virtual HRESULT put_Status(BSTR status) = 0;
  virtual HRESULT Redirect(BSTR url) = 0;
  virtual HRESULT Flush() = 0;
  virtual HRESULT End() = 0;
  virtual HRESULT get_Cookies(IWriteCookies** cookies) = 0;
  virtual HRESULT get_CacheControl(BSTR* value) = 0;
  virtual HRESULT put_CacheControl(BSTR value) = 0;
  virtual HRESULT get_Expires(LONG* minutes) = 0;
  virtual HRESULT put_Expires(LONG minutes) = 0;
  virtual HRESULT get_ExpiresAbsolute(VARIANT* when) = 0;
  virtual HRESULT put_ExpiresAbsolute(VARIANT when) = 0;

 protected:
  ~IPageResponse() = default;
};

// Server.GetLastError(): the error a 500 page was called for.
class IPageError : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IPageError;
  virtual HRESULT get_ASPCode(BSTR* code) = 0;
  virtual HRESULT get_Number(LONG* number) = 0;
  virtual HRESULT get_Source(BSTR* source) = 0;  // the line of the page that failed
  virtual HRESULT get_Category(BSTR* category) = 0;
  virtual HRESULT get_File(BSTR* file) = 0;
  virtual HRESULT get_Line(LONG* line) = 0;
  virtual HRESULT get_Column(LONG* column) = 0;
  virtual HRESULT get_Description(BSTR* description) = 0;
  virtual HRESULT get_ASPDescription(BSTR* description) = 0;

 protected:
  ~IPageError() = default;
};

class IPageServer : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IPageServer;
  virtual HRESULT CreateObject(BSTR progId, IDispatch** object) = 0;
  virtual HRESULT MapPath(BSTR path, BSTR* file) = 0;
  virtual HRESULT HTMLEncode(BSTR text, BSTR* encoded) = 0;
  virtual HRESULT URLEncode(BSTR text, BSTR* encoded) = 0;
  virtual HRESULT URLPathEncode(BSTR text, BSTR* encoded) = 0;
  virtual HRESULT get_ScriptTimeout(LONG* seconds) = 0;
  virtual HRESULT put_ScriptTimeout(LONG seconds) = 0;
  virtual HRESULT Execute(BSTR path) = 0;
  virtual HRESULT Transfer(BSTR path) = 0;
  virtual HRESULT GetLastError(IPageError** error) = 0;

 protected:
  ~IPageServer() = default;
};

// Application.Contents and Session.Contents: Item(name) [default] get and put,
// Item(n) the n-th value (from 1), Key(n) its name. Enumeration gives the names.
class IPageContents : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IPageContents;
  virtual HRESULT get_Item(VARIANT key, VARIANT* value) = 0;
  virtual HRESULT put_Item(VARIANT key, VARIANT value) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_Key(VARIANT index, VARIANT* name) = 0;
  virtual HRESULT Remove(VARIANT key) = 0;
  virtual HRESULT RemoveAll() = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IPageContents() = default;
};

class IPageApplication : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IPageApplication;
  virtual HRESULT get_Value(BSTR name, VARIANT* value) = 0;  // [default]
  virtual HRESULT put_Value(BSTR name, VARIANT value) = 0;
  virtual HRESULT get_Contents(IPageContents** contents) = 0;
  virtual HRESULT Lock() = 0;
  virtual HRESULT Unlock() = 0;

 protected:
  ~IPageApplication() = default;
};

class IPageSession : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IPageSession;
  virtual HRESULT get_Value(BSTR name, VARIANT* value) = 0;  // [default]
  virtual HRESULT put_Value(BSTR name, VARIANT value) = 0;
  virtual HRESULT get_Contents(IPageContents** contents) = 0;
  virtual HRESULT get_SessionID(BSTR* id) = 0;
  virtual HRESULT get_Timeout(LONG* minutes) = 0;
  virtual HRESULT put_Timeout(LONG minutes) = 0;
  virtual HRESULT Abandon() = 0;

 protected:
  ~IPageSession() = default;
};

namespace pages {

// The page objects' type library (VellumPagesLib), which their IDispatch and the member
// reference are made from.
std::shared_ptr<const automation::TypeLibraryDesc> PagesLibrary();

// The descriptions behind the IDispatch of each interface.
const automation::BoundInterface& PageDictionaryInterface();
const automation::BoundInterface& StringListInterface();
const automation::BoundInterface& UploadedFileInterface();
const automation::BoundInterface& UploadedFilesInterface();
const automation::BoundInterface& PageRequestInterface();
const automation::BoundInterface& WriteCookieInterface();
const automation::BoundInterface& WriteCookiesInterface();
const automation::BoundInterface& PageResponseInterface();
const automation::BoundInterface& PageErrorInterface();
const automation::BoundInterface& PageServerInterface();
const automation::BoundInterface& PageContentsInterface();
const automation::BoundInterface& PageApplicationInterface();
const automation::BoundInterface& PageSessionInterface();

}  // namespace pages
