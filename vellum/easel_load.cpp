// LoadImage: a new working image from a file path, a byte array or a database field.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "common/field_contract.h"
#include "platform/gdi/gdi.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "platform/policy/pixel_limit.h"
#include "vellum/codecs/bmp.h"
#include "vellum/codecs/gif.h"
#include "vellum/codecs/identify.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/pcx.h"
#include "vellum/codecs/png.h"
#include "vellum/codecs/psd.h"
#include "vellum/codecs/tiff.h"
#include "vellum/core/image_buffer.h"
#include "vellum/core/metafile.h"
#include "vellum/easel.h"
#include "vellum/easel_io.h"

namespace vellum {

namespace {

constexpr LONG kFieldChunkBytes = 1000;
constexpr COLORREF kMetafileBackground = 0xFFFFFF;

// Closes a source when the scope ends.
class SourceCloser {
 public:
  explicit SourceCloser(HISSRC source) : source_(source) {}
  ~SourceCloser() { CloseSource(source_); }
  SourceCloser(const SourceCloser&) = delete;
  SourceCloser& operator=(const SourceCloser&) = delete;

 private:
  HISSRC source_;
};

// Keeps a safe array's data locked while the scope lasts.
class ArrayAccess {
 public:
  explicit ArrayAccess(SAFEARRAY* array) : array_(array), hr_(SafeArrayAccessData(array, &data_)) {}
  ~ArrayAccess() {
    if (SUCCEEDED(hr_)) SafeArrayUnaccessData(array_);
  }
  ArrayAccess(const ArrayAccess&) = delete;
  ArrayAccess& operator=(const ArrayAccess&) = delete;
  HRESULT Result() const { return hr_; }
  const void* Data() const { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
  HRESULT hr_;
};

// Probes a file for reading as the loader does before it opens a source: false, with
// the system's error, when it cannot be opened, is not a regular file (a pipe or a
// device is refused at once rather than waited on) or lies outside the allowed folders.
bool CanOpenForReading(const char* path) {
  int descriptor = -1;
  const DWORD error = policy::OpenFileForReading(path, &descriptor);
  if (error != NO_ERROR) {
    SetLastError(error);
    return false;
  }
  close(descriptor);
  return true;
}

// A metafile held in memory: the whole source as an enhanced metafile, a Windows
// metafile (behind a placeable header or not) converted to one. The renderer's
// failures stay in its own context (this path leaves the thread's code alone); a
// picture refused for its size says so through `refusedForSize`.
HGLOBAL ReadMetafileFromSource(HISSRC source, int32_t format, int32_t* width, int32_t* height,
                               bool* refusedForSize) {
  const uint32_t size = DataSize(source);
  std::vector<uint8_t> bytes(size);
  if (size == 0 || !Rewind(source) || !ReadExactly(source, bytes.data(), size)) return nullptr;
  HENHMETAFILE metafile = nullptr;
  if (format == kFormatEmf) {
    metafile = SetEnhMetaFileBits(size, bytes.data());
  } else {
    uint32_t key = 0;
    if (size >= sizeof key) std::memcpy(&key, bytes.data(), sizeof key);
    const uint32_t skip = key == kPlaceableKey ? kPlaceableHeaderSize : 0;
    const METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    if (size > skip)
      metafile = SetWinMetaFileBits(size - skip, bytes.data() + skip, nullptr, &picture);
  }
  if (metafile == nullptr) return nullptr;
  OpContext ctx;
  HGLOBAL image = RenderEnhMetaFile(ctx, metafile, width, height, kMetafileBackground);
  DeleteEnhMetaFile(metafile);
  *refusedForSize = ctx.code == kErrPixelLimit;
  return image;
}

// Says which limit refused an image, as the operator set it.
std::u16string PixelLimitText() {
  const std::string limit = std::to_string(policy::MaxImagePixels());
  return u"The limit is " + std::u16string(limit.begin(), limit.end()) + u" pixels per image";
}

}  // namespace

HRESULT Easel::LoadImage(VARIANT p_vImage) {
  return RunLoadOrSave([&]() -> HRESULT {
    if (const BSTR* path = PathArgument(p_vImage)) {
      LoadFromPath(*path);
    } else if (p_vImage.vt == VT_DISPATCH) {
      LoadFromField(p_vImage.pdispVal);
    } else if (SAFEARRAY* bytes = ByteArrayOf(p_vImage)) {
      LoadFromArray(bytes);
    } else {
      return E_INVALIDARG;
    }
    return S_OK;
  });
}

void Easel::LoadFromPath(BSTR path) {
  const std::optional<std::string> name = PathToAnsi(path);
  if (!name) ReportFailure(u"Can not convert unicode file name to ANSI format", GetLastError());
  if (!CanOpenForReading(name->c_str())) {
    const DWORD error = GetLastError();
    if (!policy::IsAllowedPath(*name)) AppendErrorText(0, kOutsideAllowedFolders, 0, 0);
    ReportFailure(u"Can not access to the image file", error);
  }
  HISSRC source = OpenFileSource(name->c_str());
  if (source == nullptr) {
    ReportFailure(u"An error occured while opening the image file", GetLastError(),
                  CoreLastError());
  }
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL image = nullptr;
  {
    const SourceCloser closer(source);
    image = ReadImage(source, name->c_str(), &width, &height);
  }
  if (image == nullptr) ReportFailure(u"An error occured while loading the image file\n");
  ReplaceImage(image, static_cast<uint32_t>(width), height);
}

void Easel::LoadFromArray(SAFEARRAY* array) {
  if (SafeArrayGetDim(array) != 1) ReportFailure(u"Safe array should contain a vector of values");
  const ULONG count = array->rgsabound[0].cElements;
  bool loaded = false;
  {
    const ArrayAccess access(array);
    if (FAILED(access.Result())) {
      ReportFailure(u"Can not access to the array's data", 0, 0, access.Result());
    }
    loaded = LoadFromMemory(access.Data(), count);
  }
  if (!loaded) ReportFailure(u"Can not load image. Operation failed\n");
}

void Easel::LoadFromField(IDispatch* field) {
  DISPID member = DISPID_UNKNOWN;
  if (FAILED(field_contract::FindMember(field, field_contract::kGetChunk, kFieldLocale, &member))) {
    ReportFailure(u"Invalid pointer, please, convert it to the ADO field");
  }
  // The whole value, chunk by chunk, until the field answers VT_NULL.
  std::vector<uint8_t> value;
  bool complete = false;
  try {
    for (;;) {
      Variant chunk;
      const HRESULT hr = field_contract::GetChunk(field, kFieldChunkBytes, kFieldLocale, &chunk);
      if (SUCCEEDED(hr) && chunk.vt == VT_NULL) {
        complete = true;
        break;
      }
      SAFEARRAY* bytes = SUCCEEDED(hr) ? ByteArrayOf(chunk) : nullptr;
      if (bytes == nullptr || SafeArrayGetDim(bytes) == 0) {
        AppendErrorText(GetLastError(),
                        u"A database error has occured: can not read BLOB from the database", 0, 0);
        break;
      }
      const auto* data = static_cast<const uint8_t*>(bytes->pvData);
      value.insert(value.end(), data, data + bytes->rgsabound[bytes->cDims - 1].cElements);
      if (value.size() > kGlobalMemoryLimit) throw std::bad_alloc();
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    AppendErrorText(GetLastError(), u"Not enough memory to perform the operation", 0, 0);
    complete = false;
  }
  if (!complete || value.empty() ||
      !LoadFromMemory(value.data(), static_cast<uint32_t>(value.size()))) {
    ReportFailure(u"Can not read data from the database BLOB referenced by the field");
  }
}

bool Easel::LoadFromMemory(const void* bytes, uint32_t count) {
  HISSRC source = OpenMemorySource(bytes, count);
  if (source == nullptr) return false;
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL image = nullptr;
  {
    const SourceCloser closer(source);
    image = ReadImage(source, nullptr, &width, &height);
  }
  if (image == nullptr) return false;
  ReplaceImage(image, static_cast<uint32_t>(width), height);
  return true;
}

HGLOBAL Easel::ReadImage(HISSRC source, const char* path, int32_t* width, int32_t* height) {
  const int32_t format = IdentifyFormat(source);
  imageFormat_ = static_cast<int16_t>(format);
  SeekHandle(source, 0, kSeekStart);
  GlobalBlock image;
  bool resolutionTaken = true;
  bool refusedForSize = false;
  std::u16string refusal;  // the reason for a format read no further
  switch (format) {
    case kFormatBmp:
      image = GlobalBlock(ReadBMP(source, width, height, 24));
      break;
    case kFormatGif: {
      // The file's transparent colour (or -1) becomes the object's.
      auto transparent = static_cast<int32_t>(transparentColor_);
      image = GlobalBlock(ReadGIF(source, width, height, &transparent));
      transparentColor_ = static_cast<COLORREF>(transparent);
      break;
    }
    case kFormatJpeg:
      image = GlobalBlock(ReadJPEG(source, width, height, 24));
      resolutionTaken = !image || TakeJpegResolution(source);
      break;
    case kFormatPng:
      image = GlobalBlock(ReadPNG(source, width, height, 24));
      resolutionTaken = !image || TakePngResolution(source);
      break;
    case kFormatPcx:
      image = GlobalBlock(ReadPCX(source, width, height, 24));
      break;
    case kFormatTiff:
      image = GlobalBlock(ReadTIFF(source, width, height, 24, tiffPage_ - 1));
      resolutionTaken = !image || TakeTiffResolution(source);
      break;
    case kFormatPsd:
      image = GlobalBlock(ReadPSD(source, width, height, 24));
      break;
    case kFormatWmf:
    case kFormatEmf:
      image = GlobalBlock(
          path != nullptr ? ReadMetafile(path, width, height, 0, 0, kMetafileBackground)
                          : ReadMetafileFromSource(source, format, width, height, &refusedForSize));
      break;
    default:
      refusal = u"Format of the image is not supported";
      break;
  }
  if (image && !resolutionTaken) {
    refusal = u"The DPI units of this image is not supported";
    image.Reset();
  }
  if (!image) {
    const int32_t coreError = refusedForSize ? kErrPixelLimit : CoreLastError();
    const bool overLimit = coreError == kErrPixelLimit;
    if (overLimit) refusal = PixelLimitText();
    if (!refusal.empty()) AppendErrorText(0, refusal, coreError, 0);
    // The limit's text and the limit are said once.
    AppendErrorText(0, u"Can not read image data from the storage", overLimit ? 0 : coreError, 0);
    return nullptr;
  }
  return image.Release();
}

// Densities are kept as their low 16 bits, as DPIx and DPIy hold them.
bool Easel::TakeJpegResolution(HISSRC source) {
  int32_t width = 0, height = 0, bits = 0;
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadJPEGInfo(source, &width, &height, &bits, &resolution)) {
    return true;  // the image stays; so do the resolution members
  }
  if (resolution.unit < eziNoUnits || resolution.unit > eziDotsPerCm) return false;
  dpiX_ = static_cast<int16_t>(resolution.xDensity);
  dpiY_ = static_cast<int16_t>(resolution.yDensity);
  dpiUnits_ = resolution.unit;
  return true;
}

bool Easel::TakePngResolution(HISSRC source) {
  int32_t colorType = 0, width = 0, height = 0, bitDepth = 0, interlace = 0, paletteCount = 0;
  Palette palette{};
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadPNGInfo(source, &colorType, &width, &height, &bitDepth, &interlace,
                                      &paletteCount, palette.data(), &resolution)) {
    return true;
  }
  constexpr int32_t kUnknownUnit = 0;
  constexpr int32_t kPerMetre = 1;
  if (resolution.unit == kUnknownUnit) {
    dpiUnits_ = eziNoUnits;  // the densities of an unknown unit are not taken
    return true;
  }
  if (resolution.unit != kPerMetre) return false;
  dpiUnits_ = eziDotsPerM;
  dpiX_ = static_cast<int16_t>(resolution.xDensity);
  dpiY_ = static_cast<int16_t>(resolution.yDensity);
  return true;
}

bool Easel::TakeTiffResolution(HISSRC source) {
  int32_t width = 0, height = 0, bits = 0;
  ResolutionRecord resolution;
  if (!Rewind(source) || !ReadTIFFInfo(source, &width, &height, &bits, &resolution)) return true;
  // ResolutionUnit 1 none, 2 inch, 3 centimetre: one above DPIUnits.
  if (resolution.unit < 1 || resolution.unit > 3) return false;
  dpiX_ = static_cast<int16_t>(resolution.xDensity);
  dpiY_ = static_cast<int16_t>(resolution.yDensity);
  dpiUnits_ = resolution.unit - 1;
  return true;
}

}  // namespace vellum
