#include "platform/web/web_context.h"

#include <string_view>

#include "platform/automation/binding.h"

namespace {

thread_local IObjectContext* t_currentContext = nullptr;

// The context a host makes for one page: its response and request as properties.
class PageContext final : public ComObject<IObjectContext, IGetContextProperties> {
 public:
  explicit PageContext(IUnknown* outer) : ComObject(outer) {}

  void Attach(IDispatch* response, IDispatch* request) {
    response_ = ComPtr<IDispatch>(response);
    request_ = ComPtr<IDispatch>(request);
  }

  HRESULT GetProperty(BSTR name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    const std::u16string_view wanted = BstrView(name);
    IDispatch* property = wanted == u"Response"  ? response_.Get()
                          : wanted == u"Request" ? request_.Get()
                                                 : nullptr;
    if (property == nullptr) return E_INVALIDARG;
    VariantClear(value);
    property->AddRef();
    value->vt = VT_DISPATCH;
    value->pdispVal = property;
    return S_OK;
  }

 private:
  ComPtr<IDispatch> response_;
  ComPtr<IDispatch> request_;
};

std::shared_ptr<const automation::TypeLibraryDesc> WebLibrary() {
  using automation::Bind;
  using automation::DescribeMember;
  using automation::kBoolType;
  using automation::kNoValue;
  using automation::kStringType;
  using automation::kVariantType;
  using automation::RequiredParam;
  using Kind = automation::MemberKind;
  static const auto library = [] {
    automation::TypeLibraryDesc desc;
    desc.name = "VellumWebLib";
    desc.libid = LIBID_VellumWebLib;
    desc.help = "Vellum web object context";
    desc.interfaces = {
        {"IRequestDictionary",
         IID_IRequestDictionary,
         "IRequestDictionary Interface",
         {DescribeMember(0, Kind::kGet, "Item", {RequiredParam("Key", kVariantType)}, kVariantType,
                         Bind<&IRequestDictionary::get_Item>())}},
        {"IRequest",
         IID_IRequest,
         "IRequest Interface",
         {DescribeMember(1, Kind::kGet, "ServerVariables", {},
                         automation::Interface("IRequestDictionary"),
                         Bind<&IRequest::get_ServerVariables>()),
          DescribeMember(2, Kind::kGet, "QueryString", {RequiredParam("Name", kStringType)},
                         kStringType, Bind<&IRequest::get_QueryString>())}},
        {"IResponse",
         IID_IResponse,
         "IResponse Interface",
         {
             DescribeMember(1, Kind::kGet, "Buffer", {}, kBoolType, Bind<&IResponse::get_Buffer>()),
             DescribeMember(1, Kind::kPut, "Buffer", {RequiredParam("newVal", kBoolType)}, kNoValue,
                            Bind<&IResponse::put_Buffer>()),
             DescribeMember(2, Kind::kGet, "ContentType", {}, kStringType,
                            Bind<&IResponse::get_ContentType>()),
             DescribeMember(2, Kind::kPut, "ContentType", {RequiredParam("newVal", kStringType)},
                            kNoValue, Bind<&IResponse::put_ContentType>()),
             DescribeMember(
                 3, Kind::kMethod, "AddHeader",
                 {RequiredParam("Name", kStringType), RequiredParam("Value", kStringType)},
                 kNoValue, Bind<&IResponse::AddHeader>()),
             DescribeMember(4, Kind::kMethod, "BinaryWrite", {RequiredParam("Data", kVariantType)},
                            kNoValue, Bind<&IResponse::BinaryWrite>()),
             DescribeMember(5, Kind::kMethod, "Clear", {}, kNoValue, Bind<&IResponse::Clear>()),
             DescribeMember(6, Kind::kGet, "IsClientConnected", {}, kBoolType,
                            Bind<&IResponse::get_IsClientConnected>()),
             DescribeMember(7, Kind::kMethod, "Write", {RequiredParam("Text", kStringType)},
                            kNoValue, Bind<&IResponse::Write>()),
         }},
    };
    return automation::ShareLibrary(std::move(desc));
  }();
  return library;
}

}  // namespace

namespace web {

const automation::BoundInterface& ResponseInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(WebLibrary(), IID_IResponse);
  return bound;
}

const automation::BoundInterface& RequestInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(WebLibrary(), IID_IRequest);
  return bound;
}

const automation::BoundInterface& RequestDictionaryInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(WebLibrary(), IID_IRequestDictionary);
  return bound;
}

ComPtr<IObjectContext> MakePageContext(IDispatch* response, IDispatch* request) {
  ComPtr<IObjectContext> context;
  if (FAILED(CreateComObject<PageContext>(nullptr, IID_IObjectContext, context.ReceiveVoid()))) {
    return nullptr;
  }
  static_cast<PageContext*>(context.Get())->Attach(response, request);
  return context;
}

ObjectContextScope::ObjectContextScope(IObjectContext* context)
    : previous_(std::exchange(t_currentContext, context)) {
  if (context != nullptr) context->AddRef();
}

ObjectContextScope::~ObjectContextScope() {
  IObjectContext* ending = std::exchange(t_currentContext, previous_);
  if (ending != nullptr) ending->Release();
}

}  // namespace web

HRESULT GetObjectContext(IObjectContext** context) {
  if (context == nullptr) return E_POINTER;
  *context = t_currentContext;
  if (*context == nullptr) return CONTEXT_E_NOCONTEXT;
  (*context)->AddRef();
  return S_OK;
}
