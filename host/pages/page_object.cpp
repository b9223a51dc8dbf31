#include "host/pages/page_object.h"

#include <algorithm>

#include "platform/com/error_info.h"
#include "platform/kernel/code_page.h"

namespace pages {

namespace {

// RPC_E_WRONG_THREAD: an object called from outside the request it belongs to.
constexpr HRESULT kWrongThread = MakeHresult(0x8001010E);

template <typename Char>
Char Folded(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename View>
bool SameFolded(View a, View b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](auto x, auto y) { return Folded(x) == Folded(y); });
}

// Hands out a snapshot of values, one by one.
class ValueEnumerator final : public ComObject<IEnumVARIANT> {
 public:
  explicit ValueEnumerator(IUnknown* outer) : ComObject(outer) {}

  std::shared_ptr<const std::vector<Variant>> values;
  size_t next = 0;

  HRESULT Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (out == nullptr && count > 0) return E_POINTER;
    ULONG given = 0;
    for (; given < count && next < values->size(); ++given, ++next) {
      VariantInit(&out[given]);
      const HRESULT hr = VariantCopy(&out[given], &(*values)[next]);
      if (FAILED(hr)) {
        for (ULONG k = 0; k < given; ++k) VariantClear(&out[k]);
        return hr;
      }
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const size_t left = values->size() - next;
    next += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumVARIANT** copy) override {
    if (copy == nullptr) return E_POINTER;
    const HRESULT hr =
        CreateComObject<ValueEnumerator>(nullptr, IID_IEnumVARIANT, reinterpret_cast<void**>(copy));
    if (FAILED(hr)) return hr;
    auto* clone = static_cast<ValueEnumerator*>(*copy);
    clone->values = values;
    clone->next = next;
    return S_OK;
  }
};

}  // namespace

HRESULT Fail(HRESULT hr, const char16_t* source, std::u16string_view description) {
  const std::u16string text(description);
  ReportErrorInfo(GUID_NULL, source, text.c_str());
  return hr;
}

HRESULT RefuseOutsideScope(EXCEPINFO* exception) {
  if (exception == nullptr) return kWrongThread;
  ClearExcepInfo(exception);
  exception->scode = kWrongThread;
  exception->bstrSource = AllocBstr(u"Page object");
  exception->bstrDescription = AllocBstr(
      u"This object belongs to a page's request: it answers only while that request runs, "
      u"on its thread.");
  return DISP_E_EXCEPTION;
}

BSTR RequestText(std::string_view text) {
  if (std::optional<std::u16string> wide = Utf8ToUtf16(text)) return AllocBstr(*wide);
  std::u16string replaced;
  replaced.reserve(text.size());
  // Decoded piece by piece: what does not decode becomes U+FFFD, one per byte.
  size_t at = 0;
  while (at < text.size()) {
    size_t length = 1;
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead >= 0xF0) {
      length = 4;
    } else if (lead >= 0xE0) {
      length = 3;
    } else if (lead >= 0xC0) {
      length = 2;
    }
    const std::optional<std::u16string> piece =
        at + length <= text.size() ? Utf8ToUtf16(text.substr(at, length)) : std::nullopt;
    if (piece) {
      replaced += *piece;
      at += length;
    } else {
      replaced += u'\uFFFD';
      ++at;
    }
  }
  return AllocBstr(replaced);
}

std::optional<std::string> ScriptText(BSTR text) { return Utf16ToUtf8(BstrView(text)); }

bool IsMissing(const VARIANT& value) {
  return value.vt == VT_EMPTY || (value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND);
}

std::optional<LONG> PositionOf(const VARIANT& value) {
  Variant direct;
  if (FAILED(VariantCopyInd(&direct, &value))) return std::nullopt;
  switch (direct.vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: {
      Variant position;
      if (FAILED(VariantChangeType(&position, &direct, 0, VT_I4))) return std::nullopt;
      return position.lVal;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::u16string> NameOf(const VARIANT& value) {
  Variant text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return std::nullopt;
  return std::u16string(BstrView(text.bstrVal));
}

bool SameName(std::string_view a, std::string_view b) { return SameFolded(a, b); }
bool SameName(std::u16string_view a, std::u16string_view b) { return SameFolded(a, b); }

HRESULT MakeValueEnumerator(std::vector<Variant> values, IUnknown** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  IEnumVARIANT* made = nullptr;
  const HRESULT hr =
      CreateComObject<ValueEnumerator>(nullptr, IID_IEnumVARIANT, reinterpret_cast<void**>(&made));
  if (FAILED(hr)) return hr;
  try {
    static_cast<ValueEnumerator*>(made)->values =
        std::make_shared<const std::vector<Variant>>(std::move(values));
  } catch (const std::bad_alloc&) {
    made->Release();
    return E_OUTOFMEMORY;
  }
  *enumerator = made;
  return S_OK;
}

}  // namespace pages
