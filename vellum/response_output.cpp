#include "vellum/response_output.h"

#include <algorithm>

#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"
#include "platform/web/web_context.h"
#include "vellum/codecs/formats.h"
#include "vellum/easel.h"

namespace vellum {

namespace {

constexpr uint32_t kPieceBytes = 65535;
constexpr size_t kMaxDownloadName = 259;

[[noreturn]] void Raise(const char* message) { throw CEZException(message, 0); }

// A value that asks for the automatic name: missing, empty, or the empty string.
bool AsksForPageName(const VARIANT& given) {
  const VARIANT& value =
      given.vt == (VT_BYREF | VT_VARIANT) && given.pvarVal != nullptr ? *given.pvarVal : given;
  return value.vt == VT_ERROR || value.vt == VT_EMPTY ||
         (value.vt == VT_BSTR && SysStringLen(value.bstrVal) == 0);
}

// The page's own name: the script's last path part without its extension.
std::u16string NameFromScript(std::u16string_view scriptName, int32_t format) {
  const FileFormat* row = FindFormatBySaveCode(format);
  const size_t slash = scriptName.rfind(u'/');
  if (scriptName.empty() || slash == std::u16string_view::npos) {
    return std::u16string(row->defaultName);
  }
  std::u16string_view stem = scriptName.substr(slash + 1);
  const size_t dot = stem.rfind(u'.');
  if (dot != std::u16string_view::npos) stem = stem.substr(0, dot);
  return std::u16string(stem) + std::u16string(row->extension);
}

// The name inside the header's quotes: control characters (a line break would end
// the header) are dropped, quotes and backslashes escaped.
std::u16string QuotedHeaderText(std::u16string_view name) {
  std::u16string quoted;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) continue;
    if (c == u'"' || c == u'\\') quoted += u'\\';
    quoted += c;
  }
  return quoted;
}

// The page's SCRIPT_NAME server variable as text; empty when it cannot be read.
std::u16string ScriptName(IRequest* request) {
  ComPtr<IRequestDictionary> variables;
  if (FAILED(request->get_ServerVariables(variables.Receive())) || !variables) return {};
  Variant key = Variant::String(u"SCRIPT_NAME");
  Variant value;
  if (FAILED(variables->get_Item(key, &value)) ||
      FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
    return {};
  }
  return std::u16string(BstrView(value.bstrVal));
}

template <typename Interface>
ComPtr<Interface> PageObject(IGetContextProperties* properties, const char16_t* name) {
  const Bstr propertyName{std::u16string_view(name)};
  Variant value;
  ComPtr<Interface> object;
  if (SUCCEEDED(properties->GetProperty(propertyName.Get(), &value)) &&
      (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) && value.punkVal != nullptr) {
    value.punkVal->QueryInterface(Interface::kIid, object.ReceiveVoid());
  }
  return object;
}

// Brings the response's buffering to what the object asks for, clearing what was
// buffered before the image. A response that refuses (its output already went out)
// fails the save rather than have the image mixed into that output.
HRESULT ReconcileBuffering(IResponse* response, VARIANT_BOOL wanted) {
  VARIANT_BOOL buffered = VARIANT_FALSE;
  if (FAILED(response->get_Buffer(&buffered))) Raise("Couldn't get Response.Buffer value.");
  const bool turnOff = buffered == VARIANT_TRUE && wanted == VARIANT_FALSE;
  const bool turnOn = buffered == VARIANT_FALSE && wanted == VARIANT_TRUE;
  if (!turnOff && !turnOn) return S_OK;
  if (FAILED(response->Clear()) || FAILED(response->put_Buffer(wanted))) return DISP_E_EXCEPTION;
  return S_OK;
}

// The attachment header (when asked for) and the content type; a header the response
// refuses fails the save.
HRESULT SetImageHeaders(IResponse* response, const std::u16string& name, bool attachment,
                        int32_t format) {
  if (attachment) {
    const Bstr header(u"Content-Disposition");
    const Bstr value(u"attachment; filename=\"" + QuotedHeaderText(name) + u"\"");
    if (FAILED(response->AddHeader(header.Get(), value.Get()))) return DISP_E_EXCEPTION;
  }
  const Bstr contentType(FindFormatBySaveCode(format)->mimeType);
  return FAILED(response->put_ContentType(contentType.Get())) ? DISP_E_EXCEPTION : S_OK;
}

// Sends the bytes piece by piece; stops quietly when the client has gone.
HRESULT SendPieces(IResponse* response, const uint8_t* bytes, uint32_t count) {
  for (uint64_t offset = 0; offset < count; offset += kPieceBytes) {
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (FAILED(response->get_IsClientConnected(&connected))) return DISP_E_EXCEPTION;
    if (connected == VARIANT_FALSE) return S_OK;
    const auto size = static_cast<ULONG>(std::min<uint64_t>(kPieceBytes, count - offset));
    Variant piece;
    piece.parray = MakeByteVector(bytes + offset, size);
    if (piece.parray == nullptr) return DISP_E_EXCEPTION;
    piece.vt = VT_ARRAY | VT_UI1;
    if (FAILED(response->BinaryWrite(piece))) return DISP_E_EXCEPTION;
  }
  return S_OK;
}

}  // namespace

std::u16string DownloadName(const VARIANT& given, std::u16string_view scriptName, int32_t format) {
  std::u16string name;
  if (AsksForPageName(given)) {
    name = NameFromScript(scriptName, format);
  } else {
    Variant text;
    if (FAILED(VariantChangeType(&text, &given, 0, VT_BSTR))) {
      Raise("The download name can not be converted to a string");
    }
    name = BstrView(text.bstrVal);
  }
  if (name.size() > kMaxDownloadName) name.resize(kMaxDownloadName);
  return name;
}

HRESULT WriteToResponse(const uint8_t* bytes, uint32_t count, const ResponseHeaders& headers) {
  ComPtr<IObjectContext> context;
  if (FAILED(GetObjectContext(context.Receive())) || !context) {
    Raise("Couldn't get ObjectContext. Please check \"Save\" method signature");
  }
  ComPtr<IGetContextProperties> properties;
  if (FAILED(context.As(&properties)) || !properties) Raise("Couldn't get IGetContextProperties.");
  const ComPtr<IResponse> response = PageObject<IResponse>(properties.Get(), u"Response");
  if (!response) Raise("Couldn't get Response object.");
  const ComPtr<IRequest> request = PageObject<IRequest>(properties.Get(), u"Request");
  if (!request) Raise("Couldn't get Response object.");

  const Variant missing = Variant::Missing();
  const VARIANT& given = headers.name != nullptr ? *headers.name : missing;
  const std::u16string name =
      DownloadName(given, AsksForPageName(given) ? ScriptName(request.Get()) : u"", headers.format);
  HRESULT hr = ReconcileBuffering(response.Get(), headers.bufferResponse);
  if (SUCCEEDED(hr)) hr = SetImageHeaders(response.Get(), name, headers.attachment, headers.format);
  return SUCCEEDED(hr) ? SendPieces(response.Get(), bytes, count) : hr;
}

}  // namespace vellum
