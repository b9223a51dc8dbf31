#include "vellum/easel.h"

#include "platform/com/error_info.h"
#include "platform/kernel/code_page.h"
#include "platform/kernel/debug_output.h"
#include "platform/kernel/global_memory.h"
#include "platform/kernel/last_error.h"
#include "vellum/core/entry_frame.h"
#include "vellum/module_lock.h"
#include "vellum/pixelops/default_palette.h"

namespace vellum {

namespace {

constexpr SHORT kMinQuality = 1;
constexpr SHORT kMaxQuality = 100;
constexpr LONG kMaxColorAdjustment = eziNetscapeBestFitDithered;

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Appends one piece; a piece that cannot be allocated is left out.
void AppendPiece(std::u16string& text, std::u16string_view piece) {
  try {
    text += piece;
  } catch (const std::bad_alloc&) {
  }
}

std::u16string_view ResultText(HRESULT result) {
  switch (result) {
    case E_UNEXPECTED:
      return u"An unexpected error occured\r\n";
    case E_OUTOFMEMORY:
      return u"Not enough memory to perform the operation\r\n";
    case E_INVALIDARG:
      return u"One of the function arguments is invalid\r\n";
    default:
      return {};
  }
}

}  // namespace

std::u16string ComposeErrorText(DWORD systemError, std::u16string_view message, int32_t coreError,
                                HRESULT result) {
  std::u16string text;
  AppendPiece(text, ResultText(result));
  if (const char* coreText = CoreErrorText(coreError)) AppendPiece(text, Widen(coreText));
  if (systemError != 0) {
    try {
      AppendPiece(text, Utf8ToUtf16(SystemMessageText(systemError)).value_or(u""));
    } catch (const std::bad_alloc&) {
    }
  }
  if (!message.empty()) {
    AppendPiece(text, message);
    AppendPiece(text, u"\r\n");
  }
  return text;
}

Easel::Easel(IUnknown* outer)
    : ComObject(outer), moduleLock_(ModuleLocks()), defaultPalette_(MakeDefaultPalette()) {}

Easel::~Easel() {
  FreeImage();
  if (font_ != nullptr) font_->Release();
}

HRESULT Easel::FinalConstruct() {
  IEZFont* font = nullptr;
  const HRESULT hr = CreateComObject<EZFont>(nullptr, IID_IEZFont, reinterpret_cast<void**>(&font));
  if (SUCCEEDED(hr)) font_ = static_cast<EZFont*>(font);
  return hr;
}

// ---- error reporting ----

void Easel::AppendErrorText(DWORD systemError, std::u16string_view message, int32_t coreError,
                            HRESULT result) {
  try {
    AppendPiece(errorDescription_, ComposeErrorText(systemError, message, coreError, result));
  } catch (const std::bad_alloc&) {
  }
}

void Easel::ReportFailure(std::u16string_view message, DWORD systemError, int32_t coreError,
                          HRESULT result) {
  AppendErrorText(systemError, message, coreError, result);
  throw CEZException(Utf16ToUtf8(errorDescription_).value_or(std::string()), 0);
}

HRESULT Easel::ReportArgumentError(std::u16string_view message) {
  try {
    const std::u16string description(message);
    return SetErrorInfoForClass(CLSID_Easel, description.c_str(), IID_IEasel, 0);
  } catch (const std::bad_alloc&) {
    return DISP_E_EXCEPTION;
  }
}

// Error information for a raised failure. Its class slot holds IEasel's identifier, for
// which no ProgID is registered, so the information carries no source.
HRESULT Easel::ReportException(const std::string& message, HRESULT result) {
  OutputDebugStringA(message.c_str());
  OutputDebugStringA("\n");
  try {
    const std::u16string description = Utf8ToUtf16(message).value_or(u"");
    return SetErrorInfoForClass(IID_IEasel, description.c_str(), GUID_NULL, result);
  } catch (const std::bad_alloc&) {
    return result == 0 ? DISP_E_EXCEPTION : result;
  }
}

// ---- the working image ----

void Easel::FreeImage() {
  if (image_ != nullptr) GlobalFree(image_);
  image_ = nullptr;
}

void Easel::ReplaceImage(HGLOBAL image, uint32_t width, int32_t height) {
  FreeImage();
  image_ = image;
  width_ = width;
  height_ = height;
  normalized_ = 0;
}

// ---- properties ----

HRESULT Easel::get_Width(LONG* value) { return StoreOut(value, static_cast<LONG>(width_)); }

HRESULT Easel::get_Height(LONG* value) { return StoreOut<LONG>(value, height_); }

HRESULT Easel::get_ImageFormat(EZImageFormat* value) {
  return StoreOut(value, static_cast<EZImageFormat>(imageFormat_));
}

HRESULT Easel::get_ImageQuality(SHORT* value) {
  return StoreOut(value, static_cast<SHORT>(imageQuality_));
}

HRESULT Easel::put_ImageQuality(SHORT value) {
  if (value < kMinQuality || value > kMaxQuality) return E_INVALIDARG;
  imageQuality_ = value;
  return S_OK;
}

HRESULT Easel::get_JPEGProgressive(LONG* value) {
  return StoreOut<LONG>(value, jpegProgressive_ == 1 ? 1 : 0);
}

HRESULT Easel::put_JPEGProgressive(LONG value) {
  jpegProgressive_ = value != 0 ? 1 : 0;
  return S_OK;
}

HRESULT Easel::get_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod* value) {
  return StoreOut(value, static_cast<EZIImageColorSelectMethod>(colorAdjustmentAlgorithm_));
}

// Negative values are stored; the save step treats them as it treats any other.
HRESULT Easel::put_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod value) {
  // A negative method would make every colour-reduced save fail.
  if (value < 0 || value > kMaxColorAdjustment) return E_INVALIDARG;
  colorAdjustmentAlgorithm_ = value;
  return S_OK;
}

HRESULT Easel::put_ColorResolution(EZImageColorResolution value) {
  if (value != eziGrayScale && value != ezi16Colors && value != ezi256Colors &&
      value != eziTrueColors) {
    return E_INVALIDARG;
  }
  colorResolution_ = value;
  return S_OK;
}

HRESULT Easel::get_ErrorDescription(BSTR* value) {
  if (value == nullptr) return E_POINTER;
  *value = AllocBstr(errorDescription_);
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Easel::get_Font(IEZFont** value) {
  if (value == nullptr) return E_POINTER;
  font_->AddRef();
  *value = font_;
  return S_OK;
}

HRESULT Easel::get_Text(BSTR* value) {
  if (value == nullptr) {
    return SetErrorInfoForClass(CLSID_Easel, u"out pointer is invalid", IID_IEasel, E_POINTER);
  }
  *value = AllocBstr(text_);
  return *value != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Easel::put_Text(BSTR value) {
  try {
    text_ = BstrView(value);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  measuredHeight_ = -1;
  measuredWidth_ = -1;
  return S_OK;
}

HRESULT Easel::get_TransparentColor(LONG* value) {
  return StoreOut(value, static_cast<LONG>(transparentColor_));
}

HRESULT Easel::put_TransparentColor(LONG value) {
  transparentColor_ = static_cast<COLORREF>(value);
  return S_OK;
}

HRESULT Easel::get_TiffPage(LONG* value) { return StoreOut<LONG>(value, tiffPage_); }

HRESULT Easel::put_TiffPage(LONG value) {
  tiffPage_ = value;
  return S_OK;
}

HRESULT Easel::get_ResizeFilter(LONG* value) { return StoreOut<LONG>(value, resizeFilter_); }

HRESULT Easel::put_ResizeFilter(LONG value) {
  resizeFilter_ = value;
  return S_OK;
}

HRESULT Easel::get_DPIx(SHORT* value) { return StoreOut<SHORT>(value, dpiX_); }

HRESULT Easel::put_DPIx(SHORT value) {
  dpiX_ = value;
  return S_OK;
}

HRESULT Easel::get_DPIy(SHORT* value) { return StoreOut<SHORT>(value, dpiY_); }

HRESULT Easel::put_DPIy(SHORT value) {
  dpiY_ = value;
  return S_OK;
}

HRESULT Easel::get_DPIUnits(EZIDPIUnits* value) {
  return StoreOut(value, static_cast<EZIDPIUnits>(dpiUnits_));
}

// Only the four known units: any other would be written into JPEG, PNG and TIFF files
// that this object (and other readers) could not read back.
HRESULT Easel::put_DPIUnits(EZIDPIUnits value) {
  if (value < eziNoUnits || value > eziDotsPerM) return E_INVALIDARG;
  dpiUnits_ = value;
  return S_OK;
}

HRESULT Easel::get_AntiAliasFactor(EZAntiAliasFactor* value) {
  return StoreOut(value, static_cast<EZAntiAliasFactor>(antiAliasFactor_));
}

HRESULT Easel::put_AntiAliasFactor(EZAntiAliasFactor value) {
  antiAliasFactor_ = value;
  return S_OK;
}

HRESULT Easel::get_BufferResponse(VARIANT_BOOL* value) { return StoreOut(value, bufferResponse_); }

HRESULT Easel::put_BufferResponse(VARIANT_BOOL value) {
  bufferResponse_ = value;
  return S_OK;
}

HRESULT Easel::get_GifTransparentIndex(LONG* value) {
  return StoreOut<LONG>(value, gifTransparentIndex_);
}

HRESULT Easel::put_GifTransparentIndex(LONG value) {
  gifTransparentIndex_ = value;
  gifTransparentIndexSet_ = 1;
  return S_OK;
}

HRESULT Easel::get_GifBackgroundIndex(LONG* value) {
  return StoreOut<LONG>(value, gifBackgroundIndex_);
}

HRESULT Easel::put_GifBackgroundIndex(LONG value) {
  gifBackgroundIndex_ = value;
  gifBackgroundIndexSet_ = 1;
  return S_OK;
}

HRESULT Easel::get_AutoOrient(VARIANT_BOOL* value) { return StoreOut(value, autoOrient_); }

HRESULT Easel::put_AutoOrient(VARIANT_BOOL value) {
  autoOrient_ = value != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

}  // namespace vellum
