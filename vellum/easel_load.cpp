// LoadImage: a new working image from a file path, a byte array or a database field.
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/field_contract.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "platform/policy/pixel_limit.h"
#include "vellum/codecs/formats.h"
#include "vellum/codecs/identify.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/core/image_buffer.h"
#include "vellum/core/orientation.h"
#include "vellum/easel.h"
#include "vellum/easel_editing.h"
#include "vellum/easel_io.h"

namespace vellum {

namespace {

constexpr LONG kFieldChunkBytes = 1000;

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
// the system's error, when the file cannot be opened.
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
  const int32_t code = IdentifyFormat(source);
  imageFormat_ = static_cast<int16_t>(code);
  SeekHandle(source, 0, kSeekStart);
  const FileFormat* format = FindFormatByCode(code);
  GlobalBlock image;
  std::u16string refusal;  // the reason for a format read no further
  if (format == nullptr || format->read == nullptr) {
    refusal = u"Format of the image is not supported";
  } else {
    // The file's transparent colour (or -1), where the format records one, becomes
    // the object's.
    auto transparent = static_cast<int32_t>(transparentColor_);
    const ReadRequest request{path, tiffPage_ - 1, &transparent};
    // Read first, so that a reduced JPEG decode sizes the thumbnail of the upright image.
    const int32_t orientation = autoOrient_ != VARIANT_FALSE && format->readOrientation != nullptr
                                    ? format->readOrientation(source, request)
                                    : kOrientationUpright;
    SeekHandle(source, 0, kSeekStart);
    image = GlobalBlock(thumbnailLoad_ && code == kFormatJpeg
                            ? ReadReducedJpeg(source, SwapsSides(orientation), width, height)
                            : format->read(source, request, width, height));
    transparentColor_ = static_cast<COLORREF>(transparent);
    if (image && !TakeResolution(*format, source)) {
      refusal = u"The DPI units of this image is not supported";
      image.Reset();
    }
    if (image && !TurnUpright(orientation, image.Handle(), width, height)) {
      image.Reset();
    }
  }
  if (!image) {
    const int32_t coreError = CoreLastError();
    const bool overLimit = coreError == kErrPixelLimit;
    if (overLimit) refusal = PixelLimitText();
    if (!refusal.empty()) AppendErrorText(0, refusal, coreError, 0);
    // The limit's text and the limit are said once.
    AppendErrorText(0, u"Can not read image data from the storage", overLimit ? 0 : coreError, 0);
    return nullptr;
  }
  return image.Release();
}

bool Easel::TurnUpright(int32_t orientation, HGLOBAL image, int32_t* width, int32_t* height) {
  if (orientation == kOrientationUpright) return true;
  BOOL turned = FALSE;
  {
    const BlockLock pixels(image);
    turned = OrientImage(pixels.Data(), static_cast<uint32_t>(*width),
                         static_cast<uint32_t>(*height), orientation);
  }
  if (!turned) {
    AppendErrorText(0, u"Can not turn the image upright", CoreLastError(), 0);
    return false;
  }
  if (SwapsSides(orientation)) std::swap(*width, *height);
  return true;
}

// The thumbnail's size comes from the full image, as CreateThumbnail would compute it
// (from the upright image when `turned` says the decoded one will be turned a quarter);
// the decode stops at libjpeg's smallest scale that leaves at least twice that size,
// so the resampling that follows still has detail to average. A size that leaves
// nothing to reduce (or a header that cannot be read) decodes the whole image.
HGLOBAL Easel::ReadReducedJpeg(HISSRC source, bool turned, int32_t* width, int32_t* height) {
  int32_t fullWidth = 0;
  int32_t fullHeight = 0;
  int32_t bits = 0;
  ResolutionRecord resolution;
  const bool known = ReadJPEGInfo(source, &fullWidth, &fullHeight, &bits, &resolution) &&
                     fullWidth > 0 && fullHeight > 0;
  SeekHandle(source, 0, kSeekStart);
  if (turned) std::swap(fullWidth, fullHeight);
  const auto [targetWidth, targetHeight] =
      known ? ThumbnailSize(static_cast<uint32_t>(fullWidth), fullHeight, thumbnailLoad_->width,
                            thumbnailLoad_->height, thumbnailLoad_->keepProportions)
            : std::pair<LONG, LONG>{0, 0};
  if (targetWidth <= 0 || targetHeight <= 0 || targetWidth > fullWidth / 2 ||
      targetHeight > fullHeight / 2) {
    return ReadJPEG(source, width, height, 24);
  }
  // The smallest decode, in the file's own orientation.
  const auto least = [turned](LONG across, LONG down) {
    return 2 * static_cast<uint32_t>(turned ? down : across);
  };
  HGLOBAL image = ReadJPEGReduced(source, width, height, least(targetWidth, targetHeight),
                                  least(targetHeight, targetWidth));
  if (image != nullptr) {
    thumbnailLoad_->targetWidth = targetWidth;
    thumbnailLoad_->targetHeight = targetHeight;
  }
  return image;
}

// Densities are kept as their low 16 bits, as DPIx and DPIy hold them.
bool Easel::TakeResolution(const FileFormat& format, HISSRC source) {
  if (format.readResolution == nullptr) return true;
  ObjectResolution resolution;
  switch (format.readResolution(source, &resolution)) {
    case ResolutionRead::kNone:
      return true;  // the image stays; so do the resolution members
    case ResolutionRead::kRefused:
      return false;
    case ResolutionRead::kTaken:
      break;
  }
  dpiUnits_ = resolution.units;
  if (resolution.hasDensities) {
    dpiX_ = static_cast<int16_t>(resolution.xDensity);
    dpiY_ = static_cast<int16_t>(resolution.yDensity);
  }
  return true;
}

}  // namespace vellum
