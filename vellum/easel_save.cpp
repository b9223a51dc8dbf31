// SaveImage: the working image, reduced to the colour resolution the object asks for,
// written to a file, a byte array, the page's response or a database field.
#include <algorithm>
#include <array>
#include <cstring>

#include "common/field_contract.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"
#include "vellum/codecs/formats.h"
#include "vellum/core/image_buffer.h"
#include "vellum/easel.h"
#include "vellum/easel_io.h"
#include "vellum/pixelops/color_reduction.h"
#include "vellum/response_output.h"

namespace vellum {

namespace {

constexpr uint32_t kFieldPieceBytes = 1000;
constexpr size_t kSavePaletteEntries = 300;
constexpr size_t kPaletteEntries = 256;

// Room for the encoded file: 12 bytes for each pixel of the image grown to whole
// 16 x 16 blocks (a JPEG writer encodes whole blocks), 1000 bytes, and 8 KiB for the
// headers, palettes and tables of the largest writer, so that a tiny image has room
// for a 256-entry palette and its headers. Computed in 64 bits.
uint64_t EncodeBlockBytes(uint32_t width, int32_t height) {
  const auto wholeBlocks = [](uint64_t side) { return (side + 15) / 16 * 16; };
  const uint64_t rows = height > 0 ? static_cast<uint64_t>(height) : 0;
  return wholeBlocks(width) * wholeBlocks(rows) * 12 + 1000 + 8192;
}

// The in-memory destination's block: movable and locked while it lives. It is not
// zeroed: only the bytes a writer writes are ever read, and clearing a block sized
// for the worst case would cost more than most encodings.
class EncodeBlock {
 public:
  explicit EncodeBlock(uint64_t bytes) {
    if (bytes > kGlobalMemoryLimit) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return;
    }
    block_ = GlobalBlock(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (block_) data_ = static_cast<uint8_t*>(GlobalLock(block_.Handle()));
    if (data_ != nullptr) size_ = static_cast<uint32_t>(bytes);
  }
  ~EncodeBlock() {
    if (data_ != nullptr) GlobalUnlock(block_.Handle());
  }
  EncodeBlock(const EncodeBlock&) = delete;
  EncodeBlock& operator=(const EncodeBlock&) = delete;
  uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }

 private:
  GlobalBlock block_;
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// Closes a destination when the scope ends; Close reports the bytes written.
class DestinationCloser {
 public:
  explicit DestinationCloser(HISDEST destination) : destination_(destination) {}
  ~DestinationCloser() { Close(); }
  DestinationCloser(const DestinationCloser&) = delete;
  DestinationCloser& operator=(const DestinationCloser&) = delete;
  void Close() {
    if (destination_ != nullptr) CloseDestination(std::exchange(destination_, nullptr));
  }

 private:
  HISDEST destination_;
};

[[noreturn]] void RaiseOutOfMemory() {
  throw CEZException("Not enough memory to perform the operation", 0);
}

// One index byte per pixel from 4-bit rows that each start on a byte; null when
// memory runs out.
HGLOBAL UnpackFourBitRows(const uint8_t* packed, uint32_t width, uint32_t height) {
  OpContext ctx;
  GlobalBlock indices = AllocateImageBuffer(ctx, ImageBytes(width, height, 1), false);
  if (!indices) return nullptr;
  const size_t stride = (size_t{width} + 1) / 2;
  for (uint32_t y = 0; y < height; ++y) {
    UnpackRowIndices(packed + y * stride, width, 4, indices.Data() + size_t{y} * width);
  }
  return indices.Release();
}

}  // namespace

// The working image as it was before a save: its size, format code and normalized
// flag, and a copy of its pixels when the encoding may replace them.
class Easel::ImageBackup {
 public:
  ImageBackup(Easel& owner, bool copyPixels)
      : owner_(owner),
        width_(owner.width_),
        height_(owner.height_),
        format_(owner.imageFormat_),
        normalized_(owner.normalized_) {
    if (!copyPixels) return;
    const SIZE_T bytes = GlobalSize(owner.image_);
    copy_ = GlobalBlock(GlobalAlloc(GMEM_FIXED, bytes));
    if (!copy_) return;
    const BlockLock pixels(owner.image_);
    if (pixels.Data() == nullptr) {
      copy_.Reset();
      return;
    }
    std::memcpy(copy_.Data(), pixels.Data(), bytes);
    copied_ = true;
  }
  // False when the pixels were to be copied and could not be.
  bool Ok(bool copyPixels) const { return !copyPixels || copied_; }
  ~ImageBackup() {
    if (copied_) {
      owner_.FreeImage();
      owner_.image_ = copy_.Release();
    }
    owner_.width_ = width_;
    owner_.height_ = height_;
    owner_.imageFormat_ = format_;
    owner_.normalized_ = normalized_;
  }
  ImageBackup(const ImageBackup&) = delete;
  ImageBackup& operator=(const ImageBackup&) = delete;

 private:
  Easel& owner_;
  uint32_t width_;
  int32_t height_;
  int16_t format_;
  int32_t normalized_;
  GlobalBlock copy_;
  bool copied_ = false;
};

HRESULT Easel::SaveImage(EZImageSaveMethod p_iHowToSave, EZImageFormat p_iFormat,
                         VARIANT p_vSaveData, VARIANT* p_vResultData) {
  return RunLoadOrSave([&]() -> HRESULT {
    const int32_t format = p_iFormat;
    const int32_t method = p_iHowToSave;
    // Values of 0 and below pass this check and fail when no writer is found.
    const FileFormat* row = FindFormatBySaveCode(format);
    if (format > 0 && row == nullptr) {
      ReportFailure(u"Can not convert to the image format specified");
    }
    if (method < eziFile ||
        (method > eziMemory && method != eziBrowser && method != eziDatabaseBlob)) {
      ReportFailure(u"The image save method is not supported");
    }
    // A format that holds only palette images (GIF) gets at most 256 colours.
    const int32_t resolution =
        colorResolution_ == eziTrueColors && row != nullptr && row->needsPalette ? ezi256Colors
                                                                                 : colorResolution_;
    switch (method) {
      case eziFile:
        return SaveToFile(p_vSaveData, format, resolution);
      case eziDatabaseBlob:
        return SaveToField(p_vSaveData, format, resolution);
      default:
        return SaveInMemory(method, format, resolution, p_vSaveData, p_vResultData);
    }
  });
}

HRESULT Easel::SaveToFile(const VARIANT& path, int32_t format, int32_t resolution) {
  const BSTR* text = PathArgument(path);
  if (text == nullptr || SysStringLen(*text) == 0) return E_INVALIDARG;
  const std::optional<std::string> name = PathToAnsi(*text);
  if (!name) ReportFailure(u"Can not convert file name to ANSI format", GetLastError());
  // Without an image nothing would be written: the file is not opened, so an existing
  // one is not truncated to nothing.
  if (image_ == nullptr) {
    AppendErrorText(0, u"Can not save an empty image", 0, 0);
    ReportFailure(u"Image file could not be saved to the file");
  }
  // The image goes to a new file beside the target, which replaces the target only once
  // it is whole: a failed save leaves an existing file as it was.
  policy::FileReplacement replacement;
  if (const DWORD error = replacement.Begin(*name)) {
    if (!policy::IsAllowedPath(*name)) AppendErrorText(0, kOutsideAllowedFolders, 0, 0);
    ReportFailure(u"Can not open image file", error, kErrOpenFile);
  }
  HISDEST destination = OpenFileDestination(replacement.TemporaryPath().c_str());
  if (destination == nullptr) {
    ReportFailure(u"Can not open image file", GetLastError(), CoreLastError());
  }
  uint32_t written = 0;
  {
    DestinationCloser closer(destination);
    written = EncodeImage(destination, format, resolution);
  }
  if (written == 0) ReportFailure(u"Image file could not be saved to the file");
  if (const DWORD error = replacement.Commit()) {
    ReportFailure(u"Image file could not be saved to the file", error);
  }
  return S_OK;
}

HRESULT Easel::SaveInMemory(int32_t method, int32_t format, int32_t resolution, const VARIANT& name,
                            VARIANT* result) {
  const EncodeBlock block(EncodeBlockBytes(width_, height_));
  if (block.Data() == nullptr) RaiseOutOfMemory();
  uint32_t written = 0;
  HRESULT sent = S_OK;
  try {
    HISDEST destination = OpenMemoryDestination(block.Data(), block.Size());
    if (destination == nullptr) {
      ReportFailure(u"Can not generate image in memory", GetLastError(), CoreLastError());
    }
    {
      DestinationCloser closer(destination);
      written = EncodeImage(destination, format, resolution);
    }
    if (written > 0 && method == eziMemory && result != nullptr) {
      SAFEARRAY* bytes = MakeByteVector(block.Data(), written);
      if (bytes == nullptr) ReportFailure(u"Can not generate the array", 0, 0, E_OUTOFMEMORY);
      VariantClear(result);
      result->vt = VT_ARRAY | VT_UI1;
      result->parray = bytes;
    }
    if (written > 0 && method == eziBrowser) {
      const ResponseHeaders headers{format, &name, bufferResponse_,
                                    FindFormatBySaveCode(format)->attachment};
      sent = WriteToResponse(block.Data(), written, headers);
    }
  } catch (...) {  // any failure of these steps is reported as the operation's
    written = 0;
  }
  if (written == 0 || sent != S_OK) {
    ReportFailure(u"Operation failed", GetLastError(), CoreLastError());
  }
  return S_OK;
}

HRESULT Easel::SaveToField(const VARIANT& field, int32_t format, int32_t resolution) {
  if (field.vt != VT_DISPATCH) return E_INVALIDARG;
  DISPID member = DISPID_UNKNOWN;
  if (FAILED(field_contract::FindMember(field.pdispVal, field_contract::kAppendChunk, kFieldLocale,
                                        &member))) {
    ReportFailure(u"Invalid pointer, please, convert it to the ADO field");
  }
  const EncodeBlock block(EncodeBlockBytes(width_, height_));
  if (block.Data() == nullptr) RaiseOutOfMemory();
  HISDEST destination = OpenMemoryDestination(block.Data(), block.Size());
  if (destination == nullptr) ReportFailure(u"Can not save file to memory", 0, CoreLastError());
  uint32_t written = 0;
  {
    DestinationCloser closer(destination);
    written = EncodeImage(destination, format, resolution);
  }
  // The bytes go to the field in pieces of 1000; a piece the field refuses ends the save.
  bool appended = written > 0;
  for (uint64_t offset = 0; appended && offset < written; offset += kFieldPieceBytes) {
    const auto size = static_cast<ULONG>(std::min<uint64_t>(kFieldPieceBytes, written - offset));
    Variant piece;
    piece.parray = MakeByteVector(block.Data() + offset, size);
    if (piece.parray == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      AppendErrorText(GetLastError(), u"Not enough memory to perform the operation", 0, 0);
      appended = false;
      break;
    }
    piece.vt = VT_ARRAY | VT_UI1;
    appended = SUCCEEDED(field_contract::AppendChunk(field.pdispVal, piece, kFieldLocale));
  }
  if (!appended) ReportFailure(u"Operation failed", GetLastError(), CoreLastError());
  return S_OK;
}

uint32_t Easel::EncodeImage(HISDEST destination, int32_t format, int32_t resolution) {
  if (image_ == nullptr) {
    AppendErrorText(0, u"Can not save an empty image", 0, 0);
    return 0;
  }
  // Only a reduction or the 24-bit round trip of a buffer that is not exactly an RGB
  // image replaces the pixels; otherwise the flags alone need putting back.
  const bool mayReplacePixels =
      resolution != eziTrueColors || GlobalSize(image_) != ImageBytes(width_, height_, 3);
  const ImageBackup backup(*this, mayReplacePixels);
  if (!backup.Ok(mayReplacePixels)) return 0;
  try {
    return EncodeReduced(destination, format, resolution);
  } catch (...) {
    return 0;
  }
}

uint32_t Easel::EncodeReduced(HISDEST destination, int32_t format, int32_t resolution) {
  if (resolution != eziTrueColors && !NormalizeImage(0, nullptr)) {
    AppendErrorText(0, u"Conversion to BMP failed", 0, 0);
    return 0;
  }
  std::array<RGBQUAD, kSavePaletteEntries> savePalette;
  savePalette.fill(RGBQUAD{0, 0, 0, 255});
  int32_t depth = 24;
  int32_t paletteCount = 0;
  bool gray = false;
  if (resolution != eziTrueColors) {
    HGLOBAL reduced = nullptr;
    {
      const BlockLock rgb(image_);
      reduced = ReduceColorsForSave(rgb.Data(), width_, static_cast<uint32_t>(height_), resolution,
                                    colorAdjustmentAlgorithm_, format, defaultPalette_,
                                    savePalette.data(), &depth, &paletteCount);
    }
    if (reduced == nullptr) {
      AppendErrorText(GetLastError(), u"Operation failed", CoreLastError(), 0);
      return 0;
    }
    ReplaceImage(reduced, width_, height_);
    gray = paletteCount == 0;
  }
  const FileFormat* row = FindFormatBySaveCode(format);
  // A writer that takes 8-bit indices only (the layered image) gets 16 colours a
  // byte per pixel: packed ones would make every such save fail.
  if (row != nullptr && row->unpacksSixteenColors && depth == 4) {
    HGLOBAL indices = nullptr;
    {
      const BlockLock packed(image_);
      indices = UnpackFourBitRows(packed.Data(), width_, static_cast<uint32_t>(height_));
    }
    if (indices == nullptr) {
      AppendErrorText(ERROR_NOT_ENOUGH_MEMORY, u"Operation failed", kErrNoMemory, 0);
      return 0;
    }
    ReplaceImage(indices, width_, height_);
    depth = 8;
  }
  const RGBQUAD* palette = paletteCount > 0 ? savePalette.data() : nullptr;
  // Metafiles hold 24-bit pictures only; JPEG stores reduced colour images as 24-bit
  // pictures and only the gray image as an 8-bit gray one.
  const RgbExpansion expansion = row != nullptr ? row->expansion : RgbExpansion::kNever;
  if (expansion == RgbExpansion::kAlways ||
      (expansion == RgbExpansion::kUnlessGray && depth > 1 && !gray)) {
    normalized_ = 0;
    if (!NormalizeImage(paletteCount, palette)) return 0;
    depth = 24;
  }
  return WriteFormat(destination, row, depth, paletteCount, savePalette.data(), gray);
}

// The first save-palette entry of TransparentColor becomes the GIF's transparent and
// background index, and stays so for later saves. A GIF gets a transparent index only
// when one was found so, now or before, or set through the index's accessor: the
// initial index 1 alone would make one of the palette's colours vanish.
int32_t Easel::ChooseGifTransparency(const RGBQUAD* savePalette) {
  for (size_t i = 0; i < kPaletteEntries; ++i) {
    if (HoldsColor(savePalette[i], transparentColor_)) {
      gifTransparentIndex_ = gifBackgroundIndex_ = static_cast<int32_t>(i);
      gifTransparentIndexSet_ = 1;
      break;
    }
  }
  return gifTransparentIndexSet_ != 0 ? gifTransparentIndex_ : -1;
}

uint32_t Easel::WriteFormat(HISDEST destination, const FileFormat* format, int32_t depth,
                            int32_t paletteCount, RGBQUAD* savePalette, bool gray) {
  uint32_t written = 0;
  if (format != nullptr && format->write != nullptr) {
    const BlockLock image(image_);
    WriteRequest request;
    request.pixels = image.Data();
    request.width = static_cast<int32_t>(width_);
    request.height = height_;
    request.depth = depth;
    request.paletteCount = paletteCount;
    request.palette = savePalette;
    request.gray = gray;
    request.quality = imageQuality_;
    request.progressive = jpegProgressive_;
    request.dpiX = dpiX_;
    request.dpiY = dpiY_;
    request.dpiUnits = dpiUnits_;
    request.transparentColor = transparentColor_;
    if (format->choosesTransparentIndex)
      request.transparentIndex = ChooseGifTransparency(savePalette);
    request.backgroundIndex = gifBackgroundIndex_;
    written = format->write(destination, request);
  }
  if (written == 0) {
    AppendErrorText(0, u"Can not write image data to the storage\n", CoreLastError(), 0);
  }
  return written;
}

}  // namespace vellum
