#include "host/pages/request_object.h"

#include <algorithm>
#include <climits>

#include "platform/com/safe_array.h"
#include "platform/kernel/code_page.h"

namespace pages {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += plusIsSpace && c == '+' ? ' ' : c;
    }
  }
  return decoded;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string VariableName(std::string_view header) {
  std::string name = "HTTP_";
  for (const char c : header) {
    name += c == '-' ? '_' : (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return name;
}

// The name part of a Host header ("name:port", "[v6]:port").
std::string HostName(std::string_view host) {
  const size_t colon = host.rfind(':');
  if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos) {
    host = host.substr(0, colon);
  }
  return std::string(host);
}

std::string EncodedFields(const host::NameValueList& fields) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  const auto append = [&text](std::string_view part) {
    for (const char c : part) {
      const auto byte = static_cast<unsigned char>(c);
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.' || c == '*') {
        text += c;
      } else if (c == ' ') {
        text += '+';
      } else {
        text += '%';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
      }
    }
  };
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += '&';
    append(name);
    text += '=';
    append(value);
  }
  return text;
}

HRESULT StoreText(std::string_view text, VARIANT* value) {
  value->bstrVal = RequestText(text);
  if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  return S_OK;
}

// The values of one name: Item() all of them joined with ", ", Item(n) the n-th.
class StringList final : public ComObject<DispatchImpl<IStringList, &StringListInterface>> {
 public:
  explicit StringList(IUnknown* outer) : ComObject(outer) {}

  std::vector<std::string> values;

  HRESULT get_Item(VARIANT index, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    VariantClear(value);
    if (IsMissing(index)) return values.empty() ? S_OK : StoreText(Joined(), value);
    const std::optional<LONG> position = PositionOf(index);
    if (!position || *position < 1 || static_cast<size_t>(*position) > values.size()) {
      return Fail(DISP_E_BADINDEX, u"Request object", u"There is no value at that position.");
    }
    return StoreText(values[static_cast<size_t>(*position - 1)], value);
  }
  HRESULT get_Count(LONG* count) override {
    return StoreOut(count, static_cast<LONG>(values.size()));
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    std::vector<Variant> items(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      if (FAILED(StoreText(values[i], &items[i]))) return E_OUTOFMEMORY;
    }
    return MakeValueEnumerator(std::move(items), enumerator);
  }

 private:
  std::string Joined() const {
    std::string joined;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) joined += ", ";
      joined += values[i];
    }
    return joined;
  }
};

HRESULT HandOutList(std::vector<std::string> values, VARIANT* out) {
  const ComPtr<StringList> list = MakeObject<StringList, IStringList>();
  if (!list) return E_OUTOFMEMORY;
  list->values = std::move(values);
  VariantClear(out);
  out->vt = VT_DISPATCH;
  out->pdispVal = list.Get();
  out->pdispVal->AddRef();
  return S_OK;
}

// QueryString, Form, Cookies or ServerVariables.
class FieldCollection final
    : public ComObject<DispatchImpl<IPageDictionary, &PageDictionaryInterface>> {
 public:
  explicit FieldCollection(IUnknown* outer) : ComObject(outer) {}

  FieldTable table;

  HRESULT get_Item(VARIANT key, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    VariantClear(value);
    if (IsMissing(key)) return table.Whole().empty() ? S_OK : StoreText(table.Whole(), value);
    if (const std::optional<LONG> position = PositionOf(key)) {
      if (*position < 1 || static_cast<size_t>(*position) > table.Count()) {
        return Fail(DISP_E_BADINDEX, u"Request object", u"There is no field at that position.");
      }
      return HandOutList(table.ValuesAt(static_cast<size_t>(*position - 1)), value);
    }
    const std::optional<std::u16string> name = NameOf(key);
    const std::optional<std::string> text = name ? Utf16ToUtf8(*name) : std::nullopt;
    if (!text) return Fail(DISP_E_TYPEMISMATCH, u"Request object", u"The key is not a name.");
    const std::vector<std::string>* values = table.Find(*text);
    return HandOutList(values != nullptr ? *values : std::vector<std::string>(), value);
  }
  HRESULT get_Count(LONG* count) override {
    return StoreOut(count, static_cast<LONG>(table.Count()));
  }
  HRESULT get_Key(VARIANT index, VARIANT* name) override {
    if (name == nullptr) return E_POINTER;
    VariantClear(name);
    const std::optional<LONG> position = PositionOf(index);
    if (!position || *position < 1 || static_cast<size_t>(*position) > table.Count()) {
      return Fail(DISP_E_BADINDEX, u"Request object", u"There is no field at that position.");
    }
    return StoreText(table.NameAt(static_cast<size_t>(*position - 1)), name);
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    std::vector<Variant> names(table.Count());
    for (size_t i = 0; i < table.Count(); ++i) {
      if (FAILED(StoreText(table.NameAt(i), &names[i]))) return E_OUTOFMEMORY;
    }
    return MakeValueEnumerator(std::move(names), enumerator);
  }
};

ComPtr<IPageDictionary> MakeCollection(const host::NameValueList& fields, std::string whole) {
  const ComPtr<FieldCollection> collection = MakeObject<FieldCollection, IPageDictionary>();
  if (!collection) return nullptr;
  collection->table = FieldTable(fields, std::move(whole));
  return ComPtr<IPageDictionary>(collection.Get());
}

class UploadedFileObject final
    : public ComObject<PageDispatch<IUploadedFile, &UploadedFileInterface>> {
 public:
  explicit UploadedFileObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope, const host::UploadedFile* file) {
    scope_ = std::move(scope);
    file_ = file;
  }

  HRESULT get_Name(BSTR* field) override { return Text(file_->field, field); }
  HRESULT get_FileName(BSTR* name) override { return Text(file_->fileName, name); }
  HRESULT get_ContentType(BSTR* type) override { return Text(file_->contentType, type); }
  HRESULT get_Size(LONG* bytes) override {
    return StoreOut(bytes, static_cast<LONG>(std::min<size_t>(file_->bytes.size(), LONG_MAX)));
  }
  HRESULT get_Bytes(VARIANT* bytes) override {
    if (bytes == nullptr) return E_POINTER;
    if (file_->bytes.size() > ULONG_MAX) return E_OUTOFMEMORY;
    SAFEARRAY* array = MakeByteVector(file_->bytes.data(), static_cast<ULONG>(file_->bytes.size()));
    if (array == nullptr) return E_OUTOFMEMORY;
    VariantClear(bytes);
    bytes->vt = VT_ARRAY | VT_UI1;
    bytes->parray = array;
    return S_OK;
  }

 private:
  static HRESULT Text(std::string_view text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = RequestText(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  const host::UploadedFile* file_ = nullptr;
};

class UploadedFilesObject final
    : public ComObject<PageDispatch<IUploadedFiles, &UploadedFilesInterface>> {
 public:
  explicit UploadedFilesObject(IUnknown* outer) : ComObject(outer) {}

  void Attach(std::shared_ptr<const PageScope> scope,
              const std::vector<host::UploadedFile>* files) {
    scope_ = std::move(scope);
    files_ = files;
  }

  HRESULT get_Item(VARIANT key, VARIANT* file) override {
    if (file == nullptr) return E_POINTER;
    VariantClear(file);
    const host::UploadedFile* found = nullptr;
    if (const std::optional<LONG> position = PositionOf(key)) {
      if (*position < 1 || static_cast<size_t>(*position) > files_->size()) {
        return Fail(DISP_E_BADINDEX, u"Request object", u"There is no file at that position.");
      }
      found = &(*files_)[static_cast<size_t>(*position - 1)];
    } else {
      const std::optional<std::u16string> name = NameOf(key);
      const std::optional<std::string> text = name ? Utf16ToUtf8(*name) : std::nullopt;
      if (!text) return Fail(DISP_E_TYPEMISMATCH, u"Request object", u"The key is not a name.");
      for (const host::UploadedFile& one : *files_) {
        if (SameName(one.field, *text)) {
          found = &one;
          break;
        }
      }
    }
    if (found == nullptr) {
      file->vt = VT_NULL;
      return S_OK;
    }
    const ComPtr<UploadedFileObject> object = MakeObject<UploadedFileObject, IUploadedFile>();
    if (!object) return E_OUTOFMEMORY;
    object->Attach(scope_, found);
    file->vt = VT_DISPATCH;
    file->pdispVal = object.Get();
    file->pdispVal->AddRef();
    return S_OK;
  }
  HRESULT get_Count(LONG* count) override {
    return StoreOut(count, static_cast<LONG>(files_->size()));
  }
  HRESULT get_Key(VARIANT index, VARIANT* field) override {
    if (field == nullptr) return E_POINTER;
    VariantClear(field);
    const std::optional<LONG> position = PositionOf(index);
    if (!position || *position < 1 || static_cast<size_t>(*position) > files_->size()) {
      return Fail(DISP_E_BADINDEX, u"Request object", u"There is no file at that position.");
    }
    return StoreText((*files_)[static_cast<size_t>(*position - 1)].field, field);
  }
  HRESULT get__NewEnum(IUnknown** enumerator) override {
    std::vector<Variant> fields(files_->size());
    for (size_t i = 0; i < files_->size(); ++i) {
      if (FAILED(StoreText((*files_)[i].field, &fields[i]))) return E_OUTOFMEMORY;
    }
    return MakeValueEnumerator(std::move(fields), enumerator);
  }

 private:
  const std::vector<host::UploadedFile>* files_ = nullptr;
};

bool IsUrlEncodedForm(const host::RequestRecord& request) {
  const std::optional<std::string_view> type = request.Header("content-type");
  return type &&
         SameName(Trimmed(type->substr(0, type->find(';'))), "application/x-www-form-urlencoded");
}

}  // namespace

FieldTable::FieldTable(const host::NameValueList& fields, std::string whole)
    : whole_(std::move(whole)) {
  for (const auto& [name, value] : fields) {
    size_t index = names_.size();
    for (size_t i = 0; i < names_.size(); ++i) {
      if (SameName(names_[i], name)) {
        index = i;
        break;
      }
    }
    if (index == names_.size()) {
      names_.push_back(name);
      values_.emplace_back();
    }
    values_[index].push_back(value);
  }
}

const std::vector<std::string>* FieldTable::Find(std::string_view name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (SameName(names_[i], name)) return &values_[i];
  }
  return nullptr;
}

host::NameValueList ParseQuery(std::string_view query) {
  host::NameValueList pairs;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view part = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (part.empty()) continue;
    const size_t equals = part.find('=');
    pairs.emplace_back(
        Decode(part.substr(0, equals), true),
        equals == std::string_view::npos ? "" : Decode(part.substr(equals + 1), true));
  }
  return pairs;
}

host::NameValueList ParseCookies(std::string_view header) {
  host::NameValueList pairs;
  while (!header.empty()) {
    const size_t semicolon = header.find(';');
    const std::string_view part = Trimmed(header.substr(0, semicolon));
    header =
        semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1);
    if (part.empty()) continue;
    const size_t equals = part.find('=');
    std::string_view value =
        equals == std::string_view::npos ? std::string_view() : Trimmed(part.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    pairs.emplace_back(Decode(Trimmed(part.substr(0, equals)), false), Decode(value, false));
  }
  return pairs;
}

host::NameValueList ServerVariablesOf(const host::RequestRecord& request,
                                      const RequestPlace& place) {
  const std::optional<std::string_view> host = request.Header("host");
  const std::optional<std::string_view> type = request.Header("content-type");
  const std::string secure = request.secure ? "on" : "off";
  host::NameValueList variables = {
      {"REQUEST_METHOD", request.method},
      {"SCRIPT_NAME", place.scriptName},
      {"PATH_INFO", place.scriptName},
      {"URL", place.scriptName},
      {"PATH_TRANSLATED", request.scriptFile},
      {"QUERY_STRING", request.query},
      {"CONTENT_TYPE", std::string(type.value_or(""))},
      {"CONTENT_LENGTH", std::to_string(request.body.size())},
      {"REMOTE_ADDR", request.remoteAddress},
      {"REMOTE_HOST", request.remoteAddress},
      {"REMOTE_PORT", std::to_string(request.remotePort)},
      {"LOCAL_ADDR", request.localAddress},
      {"SERVER_NAME", host && !host->empty() ? HostName(*host) : request.localAddress},
      {"SERVER_PORT", std::to_string(request.localPort)},
      {"SERVER_PROTOCOL", request.protocol},
      {"SERVER_SOFTWARE", "Vellum"},
      {"HTTPS", secure},
      {"SERVER_PORT_SECURE", request.secure ? "1" : "0"},
      {"GATEWAY_INTERFACE", "CGI/1.1"},
      {"APPL_PHYSICAL_PATH", place.siteRoot + "/"},
      {"AUTH_TYPE", ""},
      {"AUTH_USER", ""},
      {"LOGON_USER", ""},
      {"REMOTE_USER", ""},
  };
  std::string allHttp;
  std::string allRaw;
  host::NameValueList headers;
  for (const auto& [name, value] : request.headers) {
    allRaw += name + ": " + value + "\r\n";
    const std::string variable = VariableName(name);
    bool joined = false;
    for (auto& [seen, seenValue] : headers) {
      if (seen == variable) {
        seenValue += (name == "cookie" ? "; " : ", ") + value;
        joined = true;
      }
    }
    if (!joined) headers.emplace_back(variable, value);
  }
  for (const auto& [variable, value] : headers) allHttp += variable + ":" + value + "\n";
  variables.emplace_back("ALL_HTTP", allHttp);
  variables.emplace_back("ALL_RAW", allRaw);
  variables.insert(variables.end(), headers.begin(), headers.end());
  return variables;
}

ComPtr<RequestObject> RequestObject::Make(std::shared_ptr<const PageScope> scope,
                                          const host::RequestRecord& request,
                                          const RequestPlace& place) {
  const ComPtr<RequestObject> made = MakeObject<RequestObject, IPageRequest>();
  const ComPtr<UploadedFilesObject> files = MakeObject<UploadedFilesObject, IUploadedFiles>();
  if (!made || !files) return nullptr;
  try {
    made->scope_ = scope;
    made->request_ = &request;
    made->serverVariables_ = MakeCollection(ServerVariablesOf(request, place), "");
    made->queryString_ = MakeCollection(ParseQuery(request.query), request.query);
    made->form_ = MakeCollection(
        request.form, IsUrlEncodedForm(request) ? request.body : EncodedFields(request.form));
    made->cookies_ = MakeCollection(ParseCookies(request.Header("cookie").value_or("")),
                                    std::string(request.Header("cookie").value_or("")));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  files->Attach(std::move(scope), &request.files);
  made->files_ = ComPtr<IUploadedFiles>(files.Get());
  if (!made->serverVariables_ || !made->queryString_ || !made->form_ || !made->cookies_) {
    return nullptr;
  }
  return made;
}

HRESULT RequestObject::get_ServerVariables(IRequestDictionary** variables) {
  return HandOut(serverVariables_, variables);
}

HRESULT RequestObject::get_QueryString(BSTR name, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  const std::optional<std::string> key = ScriptText(name);
  std::string found;
  if (key) {
    const FieldTable query(ParseQuery(request_->query), "");
    if (const std::vector<std::string>* values = query.Find(*key)) {
      for (const std::string& one : *values) found += (found.empty() ? "" : ", ") + one;
    }
  }
  *value = RequestText(found);
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT RequestObject::get_QueryStringCollection(IRequestDictionary** collection) {
  return HandOut(queryString_, collection);
}

HRESULT RequestObject::get_Form(IRequestDictionary** collection) {
  return HandOut(form_, collection);
}

HRESULT RequestObject::get_Cookies(IRequestDictionary** collection) {
  return HandOut(cookies_, collection);
}

HRESULT RequestObject::get_Files(IUploadedFiles** files) { return HandOut(files_, files); }

HRESULT RequestObject::get_TotalBytes(LONG* bytes) {
  return StoreOut(bytes, static_cast<LONG>(std::min<size_t>(request_->body.size(), LONG_MAX)));
}

HRESULT RequestObject::BinaryRead(LONG count, VARIANT* bytes) {
  if (bytes == nullptr) return E_POINTER;
  if (count < 0)
    return Fail(E_INVALIDARG, u"Request object", u"BinaryRead takes a count of 0 or more.");
  const size_t start = std::min(readPosition_, request_->body.size());
  const size_t taken = std::min(static_cast<size_t>(count), request_->body.size() - start);
  SAFEARRAY* array = MakeByteVector(request_->body.data() + start, static_cast<ULONG>(taken));
  if (array == nullptr) return E_OUTOFMEMORY;
  readPosition_ = start + taken;
  VariantClear(bytes);
  bytes->vt = VT_ARRAY | VT_UI1;
  bytes->parray = array;
  return S_OK;
}

HRESULT RequestObject::get_Item(BSTR name, VARIANT* values) {
  if (values == nullptr) return E_POINTER;
  Variant key;
  key.vt = VT_BSTR;
  key.bstrVal = AllocBstr(BstrView(name));
  if (key.bstrVal == nullptr) return E_OUTOFMEMORY;
  for (IPageDictionary* collection :
       {queryString_.Get(), form_.Get(), cookies_.Get(), serverVariables_.Get()}) {
    const HRESULT hr = collection->get_Item(key, values);
    if (FAILED(hr)) return hr;
    ComPtr<IStringList> list;
    LONG count = 0;
    if (SUCCEEDED(values->pdispVal->QueryInterface(IID_IStringList, list.ReceiveVoid())) &&
        SUCCEEDED(list->get_Count(&count)) && count > 0) {
      return S_OK;
    }
  }
  return S_OK;  // the last collection's empty list
}

}  // namespace pages
