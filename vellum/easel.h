// Easel: the automation object through which a script drives the imaging core. It
// holds one working image and the settings the save, resize and text methods read,
// and turns every failure into automation error information plus the append-only
// ErrorDescription text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/automation/dispatch.h"
#include "platform/com/error_info.h"
#include "platform/com/object.h"
#include "platform/com/safe_array.h"
#include "platform/server/module_lock.h"
#include "vellum/core/conversions.h"
#include "vellum/core/data_handle.h"
#include "vellum/ez_font.h"
#include "vellum/interfaces.h"
#include "vellum/type_library.h"

namespace vellum {

struct FileFormat;
struct ReadRequest;

// A failure raised inside a method body, caught at the method's boundary.
class CEZException {
 public:
  CEZException(std::string message, HRESULT result)
      : message_(std::move(message)), result_(result) {}
  const std::string& Message() const { return message_; }
  HRESULT Result() const { return result_; }
  DWORD Reserved() const { return reserved_; }

 private:
  std::string message_;
  HRESULT result_;
  DWORD reserved_ = 0;
};

// The text AppendErrorText adds for one failure: a text for the result code
// (E_UNEXPECTED, E_OUTOFMEMORY, E_INVALIDARG), the core error's message, the system's
// message for the system error, then the method's message and "\r\n".
std::u16string ComposeErrorText(DWORD systemError, std::u16string_view message, int32_t coreError,
                                HRESULT result);

class Easel final
    : public ComObject<DispatchImpl<IEasel, &EaselInterface>, SupportErrorInfoFor<IEasel>> {
 public:
  explicit Easel(IUnknown* outer);
  ~Easel() override;
  // Creates the object's font.
  HRESULT FinalConstruct();

  // ---- helpers of the methods ----

  // Makes the working image a 24-bit RGB buffer through a BMP round trip (at 4 bits
  // for a 16-entry palette, 8 bits for 256, else 24). False when there is no image or
  // the round trip fails (the failure is appended to ErrorDescription).
  bool NormalizeImage(int paletteCount, const RGBQUAD* palette);
  // Appends the text of one failure to ErrorDescription.
  void AppendErrorText(DWORD systemError, std::u16string_view message, int32_t coreError,
                       HRESULT result);
  // AppendErrorText, then raises a CEZException holding the whole ErrorDescription.
  [[noreturn]] void ReportFailure(std::u16string_view message, DWORD systemError = 0,
                                  int32_t coreError = 0, HRESULT result = 0);
  // Error information with the message and the class's ProgID as source;
  // DISP_E_EXCEPTION. ErrorDescription is not touched.
  HRESULT ReportArgumentError(std::u16string_view message);

  // The boundary of a method body: a raised failure becomes error information (no
  // source) and DISP_E_EXCEPTION, as for MergeWithImage.
  template <typename Body>
  HRESULT RunReporting(Body&& body);
  // The editing methods: a raised failure is reported, and the method returns S_OK.
  template <typename Body>
  HRESULT RunEditing(Body&& body);
  // LoadImage and SaveImage: any failure ends with error information whose source is
  // "Quillmark.Easel.1" and whose description is the whole ErrorDescription.
  template <typename Body>
  HRESULT RunLoadOrSave(Body&& body);

  // ---- IEasel ----
  HRESULT LoadImage(VARIANT p_vImage) override;
  HRESULT SaveImage(EZImageSaveMethod p_iHowToSave, EZImageFormat p_iFormat, VARIANT p_vSaveData,
                    VARIANT* p_vResultData) override;
  HRESULT RotateImage(SHORT p_iDegrees, LONG p_lBackColor) override;
  HRESULT FlipImage(EZImageFlipType p_iFlipType) override;
  HRESULT CropImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight) override;
  HRESULT get_Width(LONG* value) override;
  HRESULT get_Height(LONG* value) override;
  HRESULT get_ImageFormat(EZImageFormat* value) override;
  HRESULT get_ImageQuality(SHORT* value) override;
  HRESULT put_ImageQuality(SHORT value) override;
  HRESULT get_JPEGProgressive(LONG* value) override;
  HRESULT put_JPEGProgressive(LONG value) override;
  HRESULT MergeWithImage(LONG p_iX, LONG p_iY, VARIANT p_vImage, double p_fOpacity,
                         LONG p_iTransColor, LONG ShrinkToFit) override;
  HRESULT get_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod* value) override;
  HRESULT put_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod value) override;
  HRESULT put_ColorResolution(EZImageColorResolution value) override;
  HRESULT get_ErrorDescription(BSTR* value) override;
  HRESULT SharpenImage(SHORT p_iSharpeningLevel) override;
  HRESULT BlurImage(SHORT p_iLevel) override;
  HRESULT ChangeBrightness(double p_fLevel) override;
  HRESULT FillRectInImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                          LONG p_lColor) override;
  HRESULT DrawEllipseOnImage(LONG p_lXCenter, LONG p_lYCenter, LONG p_lHorizRadius,
                             LONG p_lVertRadius, LONG p_bFill, LONG p_lColor) override;
  HRESULT DrawLineOnImage(LONG p_lStartX, LONG p_lStartY, LONG p_lEndX, LONG p_lEndY,
                          LONG p_lColor) override;
  HRESULT get_Font(IEZFont** value) override;
  HRESULT DrawTextOnImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                          BSTR p_sText) override;
  HRESULT CreateImage(LONG Width, LONG Height, LONG Color) override;
  HRESULT CreateGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                              EZImageGradientDirection Direction) override;
  HRESULT CreateTwoWayGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                                    EZImageGradientDirection Direction) override;
  HRESULT ResizeImage(LONG Width, LONG Height, EZImageResizeAlgorithm p_iAlgorithm,
                      LONG MaintainProportions) override;
  HRESULT InvertImage() override;
  HRESULT AddWatermark(VARIANT Watermark, EZWatermarkPosition Position, double Opacity,
                       LONG TransitionColor, LONG ShrinkToFit) override;
  HRESULT CreateThumbnail(LONG Width, LONG Height, EZImageResizeAlgorithm ResizeAlgorithm,
                          LONG MaintainProportions) override;
  HRESULT get_Text(BSTR* value) override;
  HRESULT put_Text(BSTR value) override;
  HRESULT get_TextWidth(BSTR Text, LONG* value) override;
  HRESULT get_TextHeight(BSTR Text, LONG* value) override;
  HRESULT get_TransparentColor(LONG* value) override;
  HRESULT put_TransparentColor(LONG value) override;
  HRESULT get_TiffPage(LONG* value) override;
  HRESULT put_TiffPage(LONG value) override;
  HRESULT get_ResizeFilter(LONG* value) override;
  HRESULT put_ResizeFilter(LONG value) override;
  HRESULT get_DPIx(SHORT* value) override;
  HRESULT put_DPIx(SHORT value) override;
  HRESULT get_DPIy(SHORT* value) override;
  HRESULT put_DPIy(SHORT value) override;
  HRESULT get_DPIUnits(EZIDPIUnits* value) override;
  HRESULT put_DPIUnits(EZIDPIUnits value) override;
  HRESULT get_AntiAliasFactor(EZAntiAliasFactor* value) override;
  HRESULT put_AntiAliasFactor(EZAntiAliasFactor value) override;
  HRESULT get_BufferResponse(VARIANT_BOOL* value) override;
  HRESULT put_BufferResponse(VARIANT_BOOL value) override;
  HRESULT get_GifTransparentIndex(LONG* value) override;
  HRESULT put_GifTransparentIndex(LONG value) override;
  HRESULT get_GifBackgroundIndex(LONG* value) override;
  HRESULT put_GifBackgroundIndex(LONG value) override;
  HRESULT get_AutoOrient(VARIANT_BOOL* value) override;
  HRESULT put_AutoOrient(VARIANT_BOOL value) override;
  HRESULT LoadThumbnail(VARIANT Image, LONG Width, LONG Height,
                        EZImageResizeAlgorithm ResizeAlgorithm, LONG MaintainProportions) override;

  // ---- state for the method Parts and tests ----
  HGLOBAL Image() const { return image_; }
  // Installs a new working image (freeing the old one) with its size; the normalized
  // flag is cleared, as after a load.
  void ReplaceImage(HGLOBAL image, uint32_t width, int32_t height);
  bool IsNormalized() const { return normalized_ != 0; }
  EZFont& Font() { return *font_; }
  // The palette colour reduction maps onto when the image is saved.
  const Palette& DefaultPalette() const { return defaultPalette_; }

 private:
  HRESULT ReportException(const std::string& message, HRESULT result);
  // TextWidth and TextHeight: measures the given text, or the Text property, and
  // caches both dimensions.
  HRESULT MeasureTextDimension(BSTR text, bool wantWidth, LONG* value);
  void FreeImage();

  // ---- loading (easel_load.cpp); each raises its failure ----
  void LoadFromPath(BSTR path);
  void LoadFromArray(SAFEARRAY* array);
  void LoadFromField(IDispatch* field);
  // Reads an image from the bytes and installs it; false when it cannot be read.
  bool LoadFromMemory(const void* bytes, uint32_t count);
  // Identifies the format and reads the image (from the file `path` names, when the
  // metafile readers can use it); sets the format code, the resolution members and,
  // for GIF, TransparentColor. Null, with the failure appended, when reading fails.
  HGLOBAL ReadImage(HISSRC source, const char* path, int32_t* width, int32_t* height);
  // LoadThumbnail's JPEG path: decodes at the smallest scale that leaves at least twice
  // the thumbnail's size, and notes that size in thumbnailLoad_; `turned` when the
  // decoded image will be turned a quarter (AutoOrient), so that size is the upright one's.
  HGLOBAL ReadReducedJpeg(HISSRC source, bool turned, int32_t* width, int32_t* height);
  // Formats that record a resolution also set DPIx, DPIy and DPIUnits from it;
  // false (the image is refused) for a unit the object cannot express.
  bool TakeResolution(const FileFormat& format, HISSRC source);
  // Turns a just-read image upright as `orientation` (what its file records) says; false,
  // with the core error appended, when it cannot be turned.
  bool TurnUpright(int32_t orientation, HGLOBAL image, int32_t* width, int32_t* height);

  // ---- saving (easel_save.cpp) ----
  class ImageBackup;
  HRESULT SaveToFile(const VARIANT& path, int32_t format, int32_t resolution);
  HRESULT SaveInMemory(int32_t method, int32_t format, int32_t resolution, const VARIANT& name,
                       VARIANT* result);
  HRESULT SaveToField(const VARIANT& field, int32_t format, int32_t resolution);
  // Encodes the working image, reduced to `resolution`, into the destination and
  // leaves the working image as it was. The bytes written, 0 on failure.
  uint32_t EncodeImage(HISDEST destination, int32_t format, int32_t resolution);
  uint32_t EncodeReduced(HISDEST destination, int32_t format, int32_t resolution);
  // Calls the format's writer (none for a format that is never written: 0).
  uint32_t WriteFormat(HISDEST destination, const FileFormat* format, int32_t depth,
                       int32_t paletteCount, RGBQUAD* savePalette, bool gray);
  // The transparent index a GIF is written with (negative: none).
  int32_t ChooseGifTransparency(const RGBQUAD* savePalette);

  // ---- helpers of the editing and creation methods ----
  // Fails with "Can not perform operation. No images were loaded" without an image.
  void RequireImage();
  // NormalizeImage(0, none); fails with "Image could not be converted to the BMP format".
  void NormalizeForEditing();
  // ResizeImage and the overlays read the working image as RGB pixels without
  // normalizing it: a block too small to hold them goes through NormalizeForEditing,
  // which refuses it, instead of being read past its end.
  void RequireRgbPixels();
  // Makes an RGB result of width x height pixels the working image (freeing the old one).
  void InstallRgbImage(HGLOBAL image, uint32_t width, int32_t height);
  // The creation methods: frees the working image and puts a new black width x height
  // RGB image in its place, painted by `fill(pixels)`. E_INVALIDARG for a negative
  // size; E_FAIL, with no image left, when it cannot be had.
  template <typename Fill>
  HRESULT CreateFilledImage(LONG width, LONG height, Fill fill);
  // Normalizes the working image and runs `edit(pixels)` on it in place; a failed edit
  // is reported with `failureMessage` and the core error.
  template <typename Edit>
  HRESULT EditInPlace(std::u16string_view failureMessage, Edit edit);
  // SharpenImage and BlurImage: the neighbourhood filter's copy replaces the image.
  HRESULT FilterImage(SHORT level, int32_t kind, std::u16string_view levelMessage);
  // Resizes by one of the four algorithms (the method body of ResizeImage).
  HRESULT Resize(LONG width, LONG height, LONG algorithm, LONG keepProportions);
  // Loads `image` into a private Easel, shrinks it into the working image's size when
  // asked, and blends it at the point `place(overlayWidth, overlayHeight)` gives. A
  // failed load ends the call with its own result when `returnLoadFailure` is set,
  // else with S_OK.
  template <typename Place>
  HRESULT BlendOverlay(VARIANT image, LONG shrinkToFit, double opacity, COLORREF transparent,
                       bool returnLoadFailure, Place place);

  // While LoadThumbnail loads: what it asked for, and the thumbnail's size once a JPEG
  // was decoded reduced for it (0 x 0 while none was).
  struct ThumbnailLoad {
    LONG width;
    LONG height;
    bool keepProportions;
    LONG targetWidth = 0;
    LONG targetHeight = 0;
  };
  std::optional<ThumbnailLoad> thumbnailLoad_;

  ModuleLockHolder moduleLock_;
  HGLOBAL image_ = nullptr;
  uint32_t width_ = 0;
  int32_t height_ = 0;
  int16_t imageFormat_ = 0;
  int32_t normalized_ = 0;
  EZFont* font_ = nullptr;  // one reference held
  VARIANT_BOOL bufferResponse_ = VARIANT_FALSE;
  // LoadImage turns images upright as their files record.
  VARIANT_BOOL autoOrient_ = VARIANT_FALSE;
  int32_t gifTransparentIndex_ = 1;
  int32_t gifBackgroundIndex_ = 1;
  uint8_t gifTransparentIndexSet_ = 0;
  uint8_t gifBackgroundIndexSet_ = 0;
  Palette defaultPalette_;
  int32_t dpiUnits_ = eziDotsPerInch;
  int32_t antiAliasFactor_ = ezAntiAliasNone;
  int32_t imageQuality_ = 70;
  int32_t jpegProgressive_ = 1;
  COLORREF transparentColor_ = 0xFFFFFE;
  int32_t tiffPage_ = 1;
  int32_t colorAdjustmentAlgorithm_ = eziNetscapeBestFitDithered;
  int32_t colorResolution_ = eziTrueColors;
  std::u16string text_;
  std::u16string errorDescription_;
  int32_t measuredHeight_ = -1;
  int32_t measuredWidth_ = -1;
  int32_t resizeFilter_ = 4;
  int16_t dpiY_ = 72;
  int16_t dpiX_ = 72;
};

template <typename Body>
HRESULT Easel::RunReporting(Body&& body) {
  try {
    return body();
  } catch (const CEZException& failure) {
    return ReportException(failure.Message(), failure.Result());
  } catch (const std::exception& failure) {
    return ReportException(failure.what(), 0);
  } catch (...) {
    return ReportException("Unknown exception", 0);
  }
}

template <typename Body>
HRESULT Easel::RunEditing(Body&& body) {
  bool raised = true;
  const HRESULT hr = RunReporting([&] {
    const HRESULT result = body();
    raised = false;
    return result;
  });
  return raised ? S_OK : hr;
}

template <typename Body>
HRESULT Easel::RunLoadOrSave(Body&& body) {
  const HRESULT hr = RunReporting(body);
  if (SUCCEEDED(hr)) return hr;
  ReportErrorInfo(GUID_NULL, u"Quillmark.Easel.1", errorDescription_.c_str());
  return DISP_E_EXCEPTION;
}

}  // namespace vellum
