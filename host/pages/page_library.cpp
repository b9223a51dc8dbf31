// The type library of the page objects: one description per interface, which drives
// their IDispatch and the type information scripts read.
#include "host/pages/page_interfaces.h"
#include "platform/automation/binding.h"

namespace pages {

namespace {

using automation::Bind;
using automation::Binding;
using automation::Interface;
using automation::kBoolType;
using automation::kLongType;
using automation::kNoValue;
using automation::kStringType;
using automation::kVariantType;
using automation::MemberDesc;
using automation::ParamDesc;
using automation::TypeDesc;
using Kind = automation::MemberKind;

const TypeDesc kUnknownType{VT_UNKNOWN, {}};

ParamDesc Required(std::string name, TypeDesc type = kVariantType) {
  return {std::move(name), std::move(type), false, {}};
}
ParamDesc Optional(std::string name) { return {std::move(name), kVariantType, true, {}}; }

MemberDesc Get(DISPID id, std::string name, Binding binding, TypeDesc result,
               std::vector<ParamDesc> params = {}) {
  return automation::DescribeMember(id, Kind::kGet, std::move(name), std::move(params),
                                    std::move(result), std::move(binding));
}
MemberDesc Put(DISPID id, std::string name, Binding binding, std::vector<ParamDesc> params) {
  return automation::DescribeMember(id, Kind::kPut, std::move(name), std::move(params), kNoValue,
                                    std::move(binding));
}
MemberDesc Method(DISPID id, std::string name, Binding binding, std::vector<ParamDesc> params = {},
                  TypeDesc result = kNoValue) {
  return automation::DescribeMember(id, Kind::kMethod, std::move(name), std::move(params),
                                    std::move(result), std::move(binding));
}

MemberDesc NewEnum(Binding binding) {
  return Get(DISPID_NEWENUM, "_NewEnum", std::move(binding), kUnknownType);
}

automation::InterfaceDesc PageDictionary() {
  return {"IPageDictionary",
          IID_IPageDictionary,
          "A collection of the request",
          {Get(DISPID_VALUE, "Item", Bind<&IPageDictionary::get_Item>(), kVariantType,
               {Optional("Key")}),
           Get(1, "Count", Bind<&IPageDictionary::get_Count>(), kLongType),
           Get(2, "Key", Bind<&IPageDictionary::get_Key>(), kVariantType, {Required("Index")}),
           NewEnum(Bind<&IPageDictionary::get__NewEnum>())}};
}

automation::InterfaceDesc StringList() {
  return {
      "IStringList",
      IID_IStringList,
      "The values sent under one name",
      {Get(DISPID_VALUE, "Item", Bind<&IStringList::get_Item>(), kVariantType, {Optional("Index")}),
       Get(1, "Count", Bind<&IStringList::get_Count>(), kLongType),
       NewEnum(Bind<&IStringList::get__NewEnum>())}};
}

automation::InterfaceDesc UploadedFile() {
  return {"IUploadedFile",
          IID_IUploadedFile,
          "A file sent with a form",
          {Get(1, "Name", Bind<&IUploadedFile::get_Name>(), kStringType),
           Get(2, "FileName", Bind<&IUploadedFile::get_FileName>(), kStringType),
           Get(3, "ContentType", Bind<&IUploadedFile::get_ContentType>(), kStringType),
           Get(4, "Size", Bind<&IUploadedFile::get_Size>(), kLongType),
           Get(5, "Bytes", Bind<&IUploadedFile::get_Bytes>(), kVariantType)}};
}

automation::InterfaceDesc UploadedFiles() {
  return {"IUploadedFiles",
          IID_IUploadedFiles,
          "The files sent with a form",
          {Get(DISPID_VALUE, "Item", Bind<&IUploadedFiles::get_Item>(), kVariantType,
               {Required("Key")}),
           Get(1, "Count", Bind<&IUploadedFiles::get_Count>(), kLongType),
           Get(2, "Key", Bind<&IUploadedFiles::get_Key>(), kVariantType, {Required("Index")}),
           NewEnum(Bind<&IUploadedFiles::get__NewEnum>())}};
}

automation::InterfaceDesc PageRequest() {
  const TypeDesc collection = Interface("IPageDictionary");
  return {"IPageRequest",
          IID_IPageRequest,
          "The request a page answers",
          {Get(DISPID_VALUE, "Item", Bind<&IPageRequest::get_Item>(), kVariantType,
               {Required("Name", kStringType)}),
           Get(1, "ServerVariables", Bind<&IPageRequest::get_ServerVariables>(), collection),
           Get(2, "QueryString", Bind<&IPageRequest::get_QueryStringCollection>(), collection),
           Get(3, "Form", Bind<&IPageRequest::get_Form>(), collection),
           Get(4, "Cookies", Bind<&IPageRequest::get_Cookies>(), collection),
           Get(5, "Files", Bind<&IPageRequest::get_Files>(), Interface("IUploadedFiles")),
           Get(6, "TotalBytes", Bind<&IPageRequest::get_TotalBytes>(), kLongType),
           Method(7, "BinaryRead", Bind<&IPageRequest::BinaryRead>(),
                  {Required("Count", kLongType)}, kVariantType)}};
}

automation::InterfaceDesc WriteCookie() {
  return {
      "IWriteCookie",
      IID_IWriteCookie,
      "A cookie the response sets",
      {Get(DISPID_VALUE, "Item", Bind<&IWriteCookie::get_Item>(), kStringType),
       Put(DISPID_VALUE, "Item", Bind<&IWriteCookie::put_Item>(), {Required("Value", kStringType)}),
       Get(1, "Expires", Bind<&IWriteCookie::get_Expires>(), kVariantType),
       Put(1, "Expires", Bind<&IWriteCookie::put_Expires>(), {Required("When")}),
       Get(2, "Path", Bind<&IWriteCookie::get_Path>(), kStringType),
       Put(2, "Path", Bind<&IWriteCookie::put_Path>(), {Required("Path", kStringType)}),
       Get(3, "Domain", Bind<&IWriteCookie::get_Domain>(), kStringType),
       Put(3, "Domain", Bind<&IWriteCookie::put_Domain>(), {Required("Domain", kStringType)}),
       Get(4, "Secure", Bind<&IWriteCookie::get_Secure>(), kBoolType),
       Put(4, "Secure", Bind<&IWriteCookie::put_Secure>(), {Required("Secure", kBoolType)}),
       Get(5, "HttpOnly", Bind<&IWriteCookie::get_HttpOnly>(), kBoolType),
       Put(5, "HttpOnly", Bind<&IWriteCookie::put_HttpOnly>(), {Required("HttpOnly", kBoolType)}),
       Get(6, "SameSite", Bind<&IWriteCookie::get_SameSite>(), kStringType),
       Put(6, "SameSite", Bind<&IWriteCookie::put_SameSite>(), {Required("Mode", kStringType)})}};
}

automation::InterfaceDesc WriteCookies() {
  return {"IWriteCookies",
          IID_IWriteCookies,
          "The cookies the response sets",
          {Get(DISPID_VALUE, "Item", Bind<&IWriteCookies::get_Item>(), Interface("IWriteCookie"),
               {Required("Name", kStringType)}),
           Get(1, "Count", Bind<&IWriteCookies::get_Count>(), kLongType),
           Get(2, "Key", Bind<&IWriteCookies::get_Key>(), kVariantType, {Required("Index")}),
           NewEnum(Bind<&IWriteCookies::get__NewEnum>())}};
}

automation::InterfaceDesc PageResponse() {
  return {
      "IPageResponse",
      IID_IPageResponse,
      "The response of a page",
      {Get(1, "Buffer", Bind<&IPageResponse::get_Buffer>(), kBoolType),
       Put(1, "Buffer", Bind<&IPageResponse::put_Buffer>(), {Required("Buffer", kBoolType)}),
       Get(2, "ContentType", Bind<&IPageResponse::get_ContentType>(), kStringType),
       Put(2, "ContentType", Bind<&IPageResponse::put_ContentType>(),
           {Required("Type", kStringType)}),
       Method(3, "AddHeader", Bind<&IPageResponse::AddHeader>(),
              {Required("Name", kStringType), Required("Value", kStringType)}),
       Method(4, "BinaryWrite", Bind<&IPageResponse::BinaryWrite>(), {Required("Data")}),
       Method(5, "Clear", Bind<&IPageResponse::Clear>()),
       Get(6, "IsClientConnected", Bind<&IPageResponse::get_IsClientConnected>(), kBoolType),
       Method(7, "Write", Bind<&IPageResponse::WriteValue>(), {Required("Value")}),
       Get(8, "Charset", Bind<&IPageResponse::get_Charset>(), kStringType),
       Put(8, "Charset", Bind<&IPageResponse::put_Charset>(), {Required("Charset", kStringType)}),
       Get(9, "Status", Bind<&IPageResponse::get_Status>(), kStringType),
       Put(9, "Status", Bind<&IPageResponse::put_Status>(), {Required("Status", kStringType)}),
       Method(10, "Redirect", Bind<&IPageResponse::Redirect>(), {Required("URL", kStringType)}),
       Method(11, "Flush", Bind<&IPageResponse::Flush>()),
       Method(12, "End", Bind<&IPageResponse::End>()),
       Get(13, "Cookies", Bind<&IPageResponse::get_Cookies>(), Interface("IWriteCookies")),
       Get(14, "CacheControl", Bind<&IPageResponse::get_CacheControl>(), kStringType),
       Put(14, "CacheControl", Bind<&IPageResponse::put_CacheControl>(),
           {Required("Value", kStringType)}),
       Get(15, "Expires", Bind<&IPageResponse::get_Expires>(), kLongType),
       Put(15, "Expires", Bind<&IPageResponse::put_Expires>(), {Required("Minutes", kLongType)}),
       Get(16, "ExpiresAbsolute", Bind<&IPageResponse::get_ExpiresAbsolute>(), kVariantType),
       Put(16, "ExpiresAbsolute", Bind<&IPageResponse::put_ExpiresAbsolute>(),
           {Required("When")})}};
}

automation::InterfaceDesc PageError() {
  return {"IPageError",
          IID_IPageError,
          "The error a page failed with",
          {Get(1, "ASPCode", Bind<&IPageError::get_ASPCode>(), kStringType),
           Get(2, "Number", Bind<&IPageError::get_Number>(), kLongType),
           Get(3, "Source", Bind<&IPageError::get_Source>(), kStringType),
           Get(4, "Category", Bind<&IPageError::get_Category>(), kStringType),
           Get(5, "File", Bind<&IPageError::get_File>(), kStringType),
           Get(6, "Line", Bind<&IPageError::get_Line>(), kLongType),
           Get(7, "Column", Bind<&IPageError::get_Column>(), kLongType),
           Get(8, "Description", Bind<&IPageError::get_Description>(), kStringType),
           Get(9, "ASPDescription", Bind<&IPageError::get_ASPDescription>(), kStringType)}};
}

automation::InterfaceDesc PageServer() {
  const std::vector<ParamDesc> text = {Required("Text", kStringType)};
  const std::vector<ParamDesc> path = {Required("Path", kStringType)};
  return {
      "IPageServer",
      IID_IPageServer,
      "The host's services to a page",
      {Method(1, "CreateObject", Bind<&IPageServer::CreateObject>(),
              {Required("ProgID", kStringType)}, TypeDesc{VT_DISPATCH, {}}),
       Method(2, "MapPath", Bind<&IPageServer::MapPath>(), path, kStringType),
       Method(3, "HTMLEncode", Bind<&IPageServer::HTMLEncode>(), text, kStringType),
       Method(4, "URLEncode", Bind<&IPageServer::URLEncode>(), text, kStringType),
       Method(5, "URLPathEncode", Bind<&IPageServer::URLPathEncode>(), text, kStringType),
       Get(6, "ScriptTimeout", Bind<&IPageServer::get_ScriptTimeout>(), kLongType),
       Put(6, "ScriptTimeout", Bind<&IPageServer::put_ScriptTimeout>(),
           {Required("Seconds", kLongType)}),
       Method(7, "Execute", Bind<&IPageServer::Execute>(), path),
       Method(8, "Transfer", Bind<&IPageServer::Transfer>(), path),
       Method(9, "GetLastError", Bind<&IPageServer::GetLastError>(), {}, Interface("IPageError"))}};
}

automation::InterfaceDesc PageContents() {
  return {
      "IPageContents",
      IID_IPageContents,
      "Values kept for an application or a session",
      {Get(DISPID_VALUE, "Item", Bind<&IPageContents::get_Item>(), kVariantType, {Required("Key")}),
       Put(DISPID_VALUE, "Item", Bind<&IPageContents::put_Item>(),
           {Required("Key"), Required("Value")}),
       Get(1, "Count", Bind<&IPageContents::get_Count>(), kLongType),
       Get(2, "Key", Bind<&IPageContents::get_Key>(), kVariantType, {Required("Index")}),
       Method(3, "Remove", Bind<&IPageContents::Remove>(), {Required("Key")}),
       Method(4, "RemoveAll", Bind<&IPageContents::RemoveAll>()),
       NewEnum(Bind<&IPageContents::get__NewEnum>())}};
}

automation::InterfaceDesc PageApplication() {
  return {"IPageApplication",
          IID_IPageApplication,
          "What every page of the site shares",
          {Get(DISPID_VALUE, "Value", Bind<&IPageApplication::get_Value>(), kVariantType,
               {Required("Name", kStringType)}),
           Put(DISPID_VALUE, "Value", Bind<&IPageApplication::put_Value>(),
               {Required("Name", kStringType), Required("Value")}),
           Get(1, "Contents", Bind<&IPageApplication::get_Contents>(), Interface("IPageContents")),
           Method(2, "Lock", Bind<&IPageApplication::Lock>()),
           Method(3, "Unlock", Bind<&IPageApplication::Unlock>())}};
}

automation::InterfaceDesc PageSession() {
  return {"IPageSession",
          IID_IPageSession,
          "What the pages of one visitor share",
          {Get(DISPID_VALUE, "Value", Bind<&IPageSession::get_Value>(), kVariantType,
               {Required("Name", kStringType)}),
           Put(DISPID_VALUE, "Value", Bind<&IPageSession::put_Value>(),
               {Required("Name", kStringType), Required("Value")}),
           Get(1, "Contents", Bind<&IPageSession::get_Contents>(), Interface("IPageContents")),
           Get(2, "SessionID", Bind<&IPageSession::get_SessionID>(), kStringType),
           Get(3, "Timeout", Bind<&IPageSession::get_Timeout>(), kLongType),
           Put(3, "Timeout", Bind<&IPageSession::put_Timeout>(), {Required("Minutes", kLongType)}),
           Method(4, "Abandon", Bind<&IPageSession::Abandon>())}};
}

template <const IID& iid>
const automation::BoundInterface& BoundPageInterface() {
  static const automation::BoundInterface bound = automation::BindInterface(PagesLibrary(), iid);
  return bound;
}

}  // namespace

std::shared_ptr<const automation::TypeLibraryDesc> PagesLibrary() {
  static const auto library = [] {
    automation::TypeLibraryDesc desc;
    desc.name = "VellumPagesLib";
    desc.libid = LIBID_VellumPagesLib;
    desc.help = "Vellum page objects";
    desc.interfaces = {PageDictionary(), StringList(),  UploadedFile(), UploadedFiles(),
                       PageRequest(),    WriteCookie(), WriteCookies(), PageResponse(),
                       PageError(),      PageServer(),  PageContents(), PageApplication(),
                       PageSession()};
    return automation::ShareLibrary(std::move(desc));
  }();
  return library;
}

const automation::BoundInterface& PageDictionaryInterface() {
  return BoundPageInterface<IID_IPageDictionary>();
}
const automation::BoundInterface& StringListInterface() {
  return BoundPageInterface<IID_IStringList>();
}
const automation::BoundInterface& UploadedFileInterface() {
  return BoundPageInterface<IID_IUploadedFile>();
}
const automation::BoundInterface& UploadedFilesInterface() {
  return BoundPageInterface<IID_IUploadedFiles>();
}
const automation::BoundInterface& PageRequestInterface() {
  return BoundPageInterface<IID_IPageRequest>();
}
const automation::BoundInterface& WriteCookieInterface() {
  return BoundPageInterface<IID_IWriteCookie>();
}
const automation::BoundInterface& WriteCookiesInterface() {
  return BoundPageInterface<IID_IWriteCookies>();
}
const automation::BoundInterface& PageResponseInterface() {
  return BoundPageInterface<IID_IPageResponse>();
}
const automation::BoundInterface& PageErrorInterface() {
  return BoundPageInterface<IID_IPageError>();
}
const automation::BoundInterface& PageServerInterface() {
  return BoundPageInterface<IID_IPageServer>();
}
const automation::BoundInterface& PageContentsInterface() {
  return BoundPageInterface<IID_IPageContents>();
}
const automation::BoundInterface& PageApplicationInterface() {
  return BoundPageInterface<IID_IPageApplication>();
}
const automation::BoundInterface& PageSessionInterface() {
  return BoundPageInterface<IID_IPageSession>();
}

}  // namespace pages
