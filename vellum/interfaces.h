// The automation interfaces of the image generator (type library VELLUMLib): the
// identifiers, the enumerations and the dual interfaces IEasel and IEZFont, in the
// order of their table slots.
#pragma once

#include "platform/com/interfaces.h"

namespace vellum {

constexpr GUID LIBID_VELLUMLib = {
    0x9EE50EE8, 0x7879, 0x4A4D, {0xA4, 0x48, 0x68, 0x56, 0x48, 0x38, 0xE6, 0xC4}};
constexpr IID IID_IEasel = {
    0x23EE1637, 0xF3C9, 0x4C01, {0xA1, 0xE5, 0xDA, 0x2E, 0xB5, 0x0E, 0xA9, 0xC2}};
constexpr CLSID CLSID_Easel = {
    0x6FB20839, 0xCEF6, 0x423D, {0xA1, 0xD9, 0x6C, 0x47, 0x58, 0x99, 0x5F, 0xE7}};
constexpr IID IID_IEZFont = {
    0xB0233890, 0xBF06, 0x43B7, {0x8A, 0xD1, 0x86, 0x79, 0x6B, 0x6D, 0xDF, 0xCB}};
constexpr CLSID CLSID_EZFont = {
    0x06655AC4, 0xA21A, 0x4655, {0xB0, 0xCC, 0x0F, 0xCD, 0x91, 0x32, 0x3F, 0x48}};

enum EZImageFormat : LONG {
  eziBMP = 1,
  eziGIF = 2,
  eziJPG = 3,
  eziPNG = 4,
  eziPCX = 5,
  eziTIFF = 6,
  eziWMF = 7,
  eziEMF = 8,
  eziPSD = 9,
  // Beyond the original nine (10 stays unused: it is what a loaded PSD file reports).
  eziWEBP = 11,
  eziAVIF = 12,
};

enum EZImageSaveMethod : LONG { eziFile = 0, eziMemory = 1, eziBrowser = 2, eziDatabaseBlob = 4 };

enum EZImageFlipType : LONG { eziFlipHorizontal = 0, eziFlipVertical = 1 };

enum EZImageResizeAlgorithm : LONG {
  eziBilinear = 0,
  eziNearestNeighbor = 1,
  eziBicubic = 2,
  eziFilterImage = 3,
};

enum EZWatermarkPosition : LONG {
  eziTopMiddle = 0,
  eziCenterMiddle = 1,
  eziBottomMiddle = 2,
  eziTopLeft = 3,
  eziCenterLeft = 4,
  eziBottomLeft = 5,
  eziTopRight = 6,
  eziCenterRight = 7,
  eziBottomRight = 8,
};

enum EZImageGradientDirection : LONG { eziHorizontal = 0, eziVertical = 1 };

enum EZIDPIUnits : LONG { eziNoUnits = 0, eziDotsPerInch = 1, eziDotsPerCm = 2, eziDotsPerM = 3 };

enum EZAntiAliasFactor : LONG {
  ezAntiAliasNone = 0,
  ezAntiAliasGood = 2,
  ezAntiAliasBest = 4,
  ezAntiAliasHigh = 6,
  ezAntiAliasHighest = 8,
};

enum EZImageColorResolution : LONG {
  eziGrayScale = 1,
  ezi16Colors = 4,
  ezi256Colors = 8,
  eziTrueColors = 24,
};

enum EZIImageColorSelectMethod : LONG {
  eziQuantize = 0,
  eziNetscapeBestFit = 1,
  eziNetscapeBestFitDithered = 2,
};

enum EZIFontFamily : LONG {
  eziDefault = 0,
  eziRoman = 1,
  eziSwiss = 2,
  eziModern = 3,
  eziScript = 4,
  eziDecorative = 5,
};

class IEZFont : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IEZFont;
  virtual HRESULT get_Height(LONG* value) = 0;
  virtual HRESULT put_Height(LONG value) = 0;
  virtual HRESULT get_Width(LONG* value) = 0;
  virtual HRESULT put_Width(LONG value) = 0;
  virtual HRESULT get_Orientation(LONG* value) = 0;
  virtual HRESULT put_Orientation(LONG value) = 0;
  virtual HRESULT get_Weight(LONG* value) = 0;
  virtual HRESULT put_Weight(LONG value) = 0;
  virtual HRESULT get_Italic(LONG* value) = 0;
  virtual HRESULT put_Italic(LONG value) = 0;
  virtual HRESULT get_Underline(LONG* value) = 0;
  virtual HRESULT put_Underline(LONG value) = 0;
  virtual HRESULT get_StrikeOut(LONG* value) = 0;
  virtual HRESULT put_StrikeOut(LONG value) = 0;
  virtual HRESULT get_Name(BSTR* value) = 0;
  virtual HRESULT put_Name(BSTR value) = 0;
  virtual HRESULT get_Color(LONG* value) = 0;
  virtual HRESULT put_Color(LONG value) = 0;
  virtual HRESULT get_FontFamily(EZIFontFamily* value) = 0;
  virtual HRESULT put_FontFamily(EZIFontFamily value) = 0;

 protected:
  ~IEZFont() = default;
};

class IEasel : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IEasel;
  virtual HRESULT LoadImage(VARIANT p_vImage) = 0;
  virtual HRESULT SaveImage(EZImageSaveMethod p_iHowToSave, EZImageFormat p_iFormat,
                            VARIANT p_vSaveData, VARIANT* p_vResultData) = 0;
  virtual HRESULT RotateImage(SHORT p_iDegrees, LONG p_lBackColor) = 0;
  virtual HRESULT FlipImage(EZImageFlipType p_iFlipType) = 0;
  virtual HRESULT CropImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight) = 0;
  virtual HRESULT get_Width(LONG* value) = 0;
  virtual HRESULT get_Height(LONG* value) = 0;
  virtual HRESULT get_ImageFormat(EZImageFormat* value) = 0;
  virtual HRESULT get_ImageQuality(SHORT* value) = 0;
  virtual HRESULT put_ImageQuality(SHORT value) = 0;
  virtual HRESULT get_JPEGProgressive(LONG* value) = 0;
  virtual HRESULT put_JPEGProgressive(LONG value) = 0;
  virtual HRESULT MergeWithImage(LONG p_iX, LONG p_iY, VARIANT p_vImage, double p_fOpacity,
                                 LONG p_iTransColor, LONG ShrinkToFit) = 0;
  virtual HRESULT get_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod* value) = 0;
  virtual HRESULT put_ColorAdjustmentAlgorithm(EZIImageColorSelectMethod value) = 0;
  virtual HRESULT put_ColorResolution(EZImageColorResolution value) = 0;
  virtual HRESULT get_ErrorDescription(BSTR* value) = 0;
  virtual HRESULT SharpenImage(SHORT p_iSharpeningLevel) = 0;
  virtual HRESULT BlurImage(SHORT p_iLevel) = 0;
  virtual HRESULT ChangeBrightness(double p_fLevel) = 0;
  virtual HRESULT FillRectInImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                                  LONG p_lColor) = 0;
  virtual HRESULT DrawEllipseOnImage(LONG p_lXCenter, LONG p_lYCenter, LONG p_lHorizRadius,
                                     LONG p_lVertRadius, LONG p_bFill, LONG p_lColor) = 0;
  virtual HRESULT DrawLineOnImage(LONG p_lStartX, LONG p_lStartY, LONG p_lEndX, LONG p_lEndY,
                                  LONG p_lColor) = 0;
  virtual HRESULT get_Font(IEZFont** value) = 0;
  virtual HRESULT DrawTextOnImage(LONG p_lLeft, LONG p_lTop, LONG p_lWidth, LONG p_lHeight,
                                  BSTR p_sText) = 0;
  virtual HRESULT CreateImage(LONG Width, LONG Height, LONG Color) = 0;
  virtual HRESULT CreateGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                                      EZImageGradientDirection Direction) = 0;
  virtual HRESULT CreateTwoWayGradientImage(LONG Width, LONG Height, LONG BeginColor, LONG EndColor,
                                            EZImageGradientDirection Direction) = 0;
  virtual HRESULT ResizeImage(LONG Width, LONG Height, EZImageResizeAlgorithm p_iAlgorithm,
                              LONG MaintainProportions) = 0;
  virtual HRESULT InvertImage() = 0;
  virtual HRESULT AddWatermark(VARIANT Watermark, EZWatermarkPosition Position, double Opacity,
                               LONG TransitionColor, LONG ShrinkToFit) = 0;
  virtual HRESULT CreateThumbnail(LONG Width, LONG Height, EZImageResizeAlgorithm ResizeAlgorithm,
                                  LONG MaintainProportions) = 0;
  virtual HRESULT get_Text(BSTR* value) = 0;
  virtual HRESULT put_Text(BSTR value) = 0;
  virtual HRESULT get_TextWidth(BSTR Text, LONG* value) = 0;
  virtual HRESULT get_TextHeight(BSTR Text, LONG* value) = 0;
  virtual HRESULT get_TransparentColor(LONG* value) = 0;
  virtual HRESULT put_TransparentColor(LONG value) = 0;
  virtual HRESULT get_TiffPage(LONG* value) = 0;
  virtual HRESULT put_TiffPage(LONG value) = 0;
  virtual HRESULT get_ResizeFilter(LONG* value) = 0;
  virtual HRESULT put_ResizeFilter(LONG value) = 0;
  virtual HRESULT get_DPIx(SHORT* value) = 0;
  virtual HRESULT put_DPIx(SHORT value) = 0;
  virtual HRESULT get_DPIy(SHORT* value) = 0;
  virtual HRESULT put_DPIy(SHORT value) = 0;
  virtual HRESULT get_DPIUnits(EZIDPIUnits* value) = 0;
  virtual HRESULT put_DPIUnits(EZIDPIUnits value) = 0;
  virtual HRESULT get_AntiAliasFactor(EZAntiAliasFactor* value) = 0;
  virtual HRESULT put_AntiAliasFactor(EZAntiAliasFactor value) = 0;
  virtual HRESULT get_BufferResponse(VARIANT_BOOL* value) = 0;
  virtual HRESULT put_BufferResponse(VARIANT_BOOL value) = 0;
  // Not described in the type library, so scripts cannot reach them: the palette
  // indexes the GIF writer receives as transparent and background colour.
  virtual HRESULT get_GifTransparentIndex(LONG* value) = 0;
  virtual HRESULT put_GifTransparentIndex(LONG value) = 0;
  virtual HRESULT get_GifBackgroundIndex(LONG* value) = 0;
  virtual HRESULT put_GifBackgroundIndex(LONG value) = 0;
  // Added after the original members, at the end so that their places stay.
  virtual HRESULT get_AutoOrient(VARIANT_BOOL* value) = 0;
  virtual HRESULT put_AutoOrient(VARIANT_BOOL value) = 0;
  // An extension: LoadImage and CreateThumbnail in one step, decoding a JPEG no larger
  // than the thumbnail needs.
  virtual HRESULT LoadThumbnail(VARIANT Image, LONG Width, LONG Height,
                                EZImageResizeAlgorithm ResizeAlgorithm,
                                LONG MaintainProportions) = 0;

 protected:
  ~IEasel() = default;
};

}  // namespace vellum
