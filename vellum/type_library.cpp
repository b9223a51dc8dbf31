#include "vellum/type_library.h"

#include "platform/automation/binding.h"
#include "vellum/interfaces.h"

namespace vellum {

namespace {

using automation::Bind;
using automation::Binding;
using automation::Constant;
using automation::EnumDesc;
using automation::MemberDesc;
using automation::MemberKind;
using automation::ParamDesc;
using automation::TypeDesc;

ParamDesc Required(std::string name, TypeDesc type) {
  return {std::move(name), std::move(type), false, {}};
}

ParamDesc Optional(std::string name, TypeDesc type, Constant defaultValue = {}) {
  return {std::move(name), std::move(type), true, std::move(defaultValue)};
}

// Builds an interface's member list in table-slot order.
class Members {
 public:
  Members& Method(DISPID id, std::string name, Binding binding, std::vector<ParamDesc> params = {},
                  TypeDesc result = automation::kNoValue) {
    std::string help = "method " + name;
    members_.push_back({id, MemberKind::kMethod, std::move(name), std::move(params),
                        std::move(result), std::move(help), std::move(binding)});
    return *this;
  }
  Members& Get(DISPID id, std::string name, Binding binding, TypeDesc type,
               std::vector<ParamDesc> params = {}, std::string help = {}) {
    if (help.empty()) help = "property " + name;
    members_.push_back({id, MemberKind::kGet, std::move(name), std::move(params), std::move(type),
                        std::move(help), std::move(binding)});
    return *this;
  }
  Members& Put(DISPID id, std::string name, Binding binding, TypeDesc type, std::string help = {}) {
    if (help.empty()) help = "property " + name;
    members_.push_back({id,
                        MemberKind::kPut,
                        std::move(name),
                        {Required("newVal", std::move(type))},
                        automation::kNoValue,
                        std::move(help),
                        std::move(binding)});
    return *this;
  }
  // A property with both a get and a put.
  Members& Property(DISPID id, const std::string& name, Binding get, Binding put,
                    const TypeDesc& type, const std::string& help = {}) {
    return Get(id, name, std::move(get), type, {}, help).Put(id, name, std::move(put), type, help);
  }
  std::vector<MemberDesc> Take() { return std::move(members_); }

 private:
  std::vector<MemberDesc> members_;
};

// Enumeration values carry no help strings; enumerations carry none either.
EnumDesc Enumeration(std::string name, const std::vector<std::pair<std::string, int32_t>>& values) {
  EnumDesc e{std::move(name), {}, {}};
  for (const auto& [valueName, value] : values) e.values.push_back({valueName, value, {}});
  return e;
}

std::vector<EnumDesc> Enumerations() {
  return {
      Enumeration("EZImageFormat", {{"eziBMP", 1},
                                    {"eziGIF", 2},
                                    {"eziJPG", 3},
                                    {"eziPNG", 4},
                                    {"eziPCX", 5},
                                    {"eziTIFF", 6},
                                    {"eziWMF", 7},
                                    {"eziEMF", 8},
                                    {"eziPSD", 9},
                                    {"eziWEBP", 11},
                                    {"eziAVIF", 12}}),
      Enumeration("EZImageSaveMethod",
                  {{"eziFile", 0}, {"eziMemory", 1}, {"eziBrowser", 2}, {"eziDatabaseBlob", 4}}),
      Enumeration("EZImageFlipType", {{"eziFlipHorizontal", 0}, {"eziFlipVertical", 1}}),
      Enumeration("EZImageResizeAlgorithm", {{"eziBilinear", 0},
                                             {"eziNearestNeighbor", 1},
                                             {"eziBicubic", 2},
                                             {"eziFilterImage", 3}}),
      Enumeration("EZWatermarkPosition", {{"eziTopMiddle", 0},
                                          {"eziCenterMiddle", 1},
                                          {"eziBottomMiddle", 2},
                                          {"eziTopLeft", 3},
                                          {"eziCenterLeft", 4},
                                          {"eziBottomLeft", 5},
                                          {"eziTopRight", 6},
                                          {"eziCenterRight", 7},
                                          {"eziBottomRight", 8}}),
      Enumeration("EZImageGradientDirection", {{"eziHorizontal", 0}, {"eziVertical", 1}}),
      Enumeration(
          "EZIDPIUnits",
          {{"eziNoUnits", 0}, {"eziDotsPerInch", 1}, {"eziDotsPerCm", 2}, {"eziDotsPerM", 3}}),
      Enumeration("EZAntiAliasFactor", {{"ezAntiAliasNone", 0},
                                        {"ezAntiAliasGood", 2},
                                        {"ezAntiAliasBest", 4},
                                        {"ezAntiAliasHigh", 6},
                                        {"ezAntiAliasHighest", 8}}),
      Enumeration(
          "EZImageColorResolution",
          {{"eziGrayScale", 1}, {"ezi16Colors", 4}, {"ezi256Colors", 8}, {"eziTrueColors", 24}}),
      Enumeration(
          "EZIImageColorSelectMethod",
          {{"eziQuantize", 0}, {"eziNetscapeBestFit", 1}, {"eziNetscapeBestFitDithered", 2}}),
      Enumeration("EZIFontFamily", {{"eziDefault", 0},
                                    {"eziRoman", 1},
                                    {"eziSwiss", 2},
                                    {"eziModern", 3},
                                    {"eziScript", 4},
                                    {"eziDecorative", 5}}),
  };
}

std::vector<MemberDesc> EaselMembers() {
  using automation::Enum;
  using automation::kBoolType;
  using automation::kDoubleType;
  using automation::kLongType;
  using automation::kShortType;
  using automation::kStringType;
  using automation::kVariantType;
  const std::vector<ParamDesc> kGradient = {
      Required("Width", kLongType), Required("Height", kLongType),
      Required("BeginColor", kLongType), Required("EndColor", kLongType),
      Required("Direction", Enum("EZImageGradientDirection"))};
  return Members()
      .Method(1, "LoadImage", Bind<&IEasel::LoadImage>(), {Required("p_vImage", kVariantType)})
      .Method(2, "SaveImage", Bind<&IEasel::SaveImage>(),
              {Required("p_iHowToSave", Enum("EZImageSaveMethod")),
               Required("p_iFormat", Enum("EZImageFormat")), Required("p_vSaveData", kVariantType)},
              kVariantType)
      .Method(4, "RotateImage", Bind<&IEasel::RotateImage>(),
              {Required("p_iDegrees", kShortType), Required("p_lBackColor", kLongType)})
      .Method(5, "FlipImage", Bind<&IEasel::FlipImage>(),
              {Required("p_iFlipType", Enum("EZImageFlipType"))})
      .Method(6, "CropImage", Bind<&IEasel::CropImage>(),
              {Required("p_lLeft", kLongType), Required("p_lTop", kLongType),
               Required("p_lWidth", kLongType), Required("p_lHeight", kLongType)})
      .Get(7, "Width", Bind<&IEasel::get_Width>(), kLongType)
      .Get(8, "Height", Bind<&IEasel::get_Height>(), kLongType)
      .Get(9, "ImageFormat", Bind<&IEasel::get_ImageFormat>(), Enum("EZImageFormat"))
      .Property(0xA, "ImageQuality", Bind<&IEasel::get_ImageQuality>(),
                Bind<&IEasel::put_ImageQuality>(), kShortType)
      .Property(0xB, "JPEGProgressive", Bind<&IEasel::get_JPEGProgressive>(),
                Bind<&IEasel::put_JPEGProgressive>(), kLongType)
      .Method(0xC, "MergeWithImage", Bind<&IEasel::MergeWithImage>(),
              {Required("p_iX", kLongType), Required("p_iY", kLongType),
               Required("p_vImage", kVariantType), Required("p_fOpacity", kDoubleType),
               Required("p_iTransColor", kLongType), Optional("ShrinkToFit", kLongType, 0)})
      .Property(0xD, "ColorAdjustmentAlgorithm", Bind<&IEasel::get_ColorAdjustmentAlgorithm>(),
                Bind<&IEasel::put_ColorAdjustmentAlgorithm>(), Enum("EZIImageColorSelectMethod"))
      .Put(0xE, "ColorResolution", Bind<&IEasel::put_ColorResolution>(),
           Enum("EZImageColorResolution"))
      .Get(0xF, "ErrorDescription", Bind<&IEasel::get_ErrorDescription>(), kStringType)
      .Method(0x10, "SharpenImage", Bind<&IEasel::SharpenImage>(),
              {Required("p_iSharpeningLevel", kShortType)})
      .Method(0x11, "BlurImage", Bind<&IEasel::BlurImage>(), {Required("p_iLevel", kShortType)})
      .Method(0x12, "ChangeBrightness", Bind<&IEasel::ChangeBrightness>(),
              {Required("p_fLevel", kDoubleType)})
      .Method(0x13, "FillRectInImage", Bind<&IEasel::FillRectInImage>(),
              {Required("p_lLeft", kLongType), Required("p_lTop", kLongType),
               Required("p_lWidth", kLongType), Required("p_lHeight", kLongType),
               Required("p_lColor", kLongType)})
      .Method(0x14, "DrawEllipseOnImage", Bind<&IEasel::DrawEllipseOnImage>(),
              {Required("p_lXCenter", kLongType), Required("p_lYCenter", kLongType),
               Required("p_lHorizRadius", kLongType), Required("p_lVertRadius", kLongType),
               Required("p_bFill", kLongType), Required("p_lColor", kLongType)})
      .Method(0x15, "DrawLineOnImage", Bind<&IEasel::DrawLineOnImage>(),
              {Required("p_lStartX", kLongType), Required("p_lStartY", kLongType),
               Required("p_lEndX", kLongType), Required("p_lEndY", kLongType),
               Required("p_lColor", kLongType)})
      .Get(0x16, "Font", Bind<&IEasel::get_Font>(), automation::Interface("IEZFont"))
      .Method(0x17, "DrawTextOnImage", Bind<&IEasel::DrawTextOnImage>(),
              {Required("p_lLeft", kLongType), Required("p_lTop", kLongType),
               Required("p_lWidth", kLongType), Required("p_lHeight", kLongType),
               Optional("p_sText", kStringType)})
      .Method(0x18, "CreateImage", Bind<&IEasel::CreateImage>(),
              {Required("Width", kLongType), Required("Height", kLongType),
               Required("Color", kLongType)})
      .Method(0x19, "CreateGradientImage", Bind<&IEasel::CreateGradientImage>(), kGradient)
      .Method(0x1A, "CreateTwoWayGradientImage", Bind<&IEasel::CreateTwoWayGradientImage>(),
              kGradient)
      .Method(0x1B, "ResizeImage", Bind<&IEasel::ResizeImage>(),
              {Required("Width", kLongType), Required("Height", kLongType),
               Optional("p_iAlgorithm", Enum("EZImageResizeAlgorithm"), 0),
               Optional("MaintainProportions", kLongType, 1)})
      .Method(0x1C, "InvertImage", Bind<&IEasel::InvertImage>())
      .Method(
          0x1D, "AddWatermark", Bind<&IEasel::AddWatermark>(),
          {Required("Watermark", kVariantType),
           Optional("Position", Enum("EZWatermarkPosition"), 1),
           Optional("Opacity", kDoubleType, 0.5), Optional("TransitionColor", kLongType, 16777215),
           Optional("ShrinkToFit", kLongType, 1)})
      .Method(0x1E, "CreateThumbnail", Bind<&IEasel::CreateThumbnail>(),
              {Optional("Width", kLongType, -1), Optional("Height", kLongType, 150),
               Optional("ResizeAlgorithm", Enum("EZImageResizeAlgorithm"), 0),
               Optional("MaintainProportions", kLongType, 1)})
      .Property(0x21, "Text", Bind<&IEasel::get_Text>(), Bind<&IEasel::put_Text>(), kStringType)
      .Get(0x22, "TextWidth", Bind<&IEasel::get_TextWidth>(), kLongType,
           {Optional("Text", kStringType)})
      .Get(0x23, "TextHeight", Bind<&IEasel::get_TextHeight>(), kLongType,
           {Optional("Text", kStringType)})
      .Property(0x24, "TransparentColor", Bind<&IEasel::get_TransparentColor>(),
                Bind<&IEasel::put_TransparentColor>(), kLongType, "defalt value = 0xFFFFFE")
      .Property(0x26, "TiffPage", Bind<&IEasel::get_TiffPage>(), Bind<&IEasel::put_TiffPage>(),
                kLongType, "1-based,  default = 1")
      .Property(0x27, "ResizeFilter", Bind<&IEasel::get_ResizeFilter>(),
                Bind<&IEasel::put_ResizeFilter>(), kLongType)
      .Property(0x28, "DPIx", Bind<&IEasel::get_DPIx>(), Bind<&IEasel::put_DPIx>(), kShortType)
      .Property(0x29, "DPIy", Bind<&IEasel::get_DPIy>(), Bind<&IEasel::put_DPIy>(), kShortType)
      .Property(0x2A, "DPIUnits", Bind<&IEasel::get_DPIUnits>(), Bind<&IEasel::put_DPIUnits>(),
                Enum("EZIDPIUnits"))
      .Property(0x2B, "AntiAliasFactor", Bind<&IEasel::get_AntiAliasFactor>(),
                Bind<&IEasel::put_AntiAliasFactor>(), Enum("EZAntiAliasFactor"))
      .Property(0x2C, "BufferResponse", Bind<&IEasel::get_BufferResponse>(),
                Bind<&IEasel::put_BufferResponse>(), kBoolType)
      .Property(0x2D, "AutoOrient", Bind<&IEasel::get_AutoOrient>(),
                Bind<&IEasel::put_AutoOrient>(), kBoolType,
                "LoadImage turns images upright as the file's orientation says; default False")
      .Method(0x2E, "LoadThumbnail", Bind<&IEasel::LoadThumbnail>(),
              {Required("Image", kVariantType), Optional("Width", kLongType, -1),
               Optional("Height", kLongType, 150),
               Optional("ResizeAlgorithm", Enum("EZImageResizeAlgorithm"), 0),
               Optional("MaintainProportions", kLongType, 1)})
      .Take();
}

std::vector<MemberDesc> FontMembers() {
  using automation::kLongType;
  return Members()
      .Property(1, "Height", Bind<&IEZFont::get_Height>(), Bind<&IEZFont::put_Height>(), kLongType)
      .Property(2, "Width", Bind<&IEZFont::get_Width>(), Bind<&IEZFont::put_Width>(), kLongType)
      .Property(3, "Orientation", Bind<&IEZFont::get_Orientation>(),
                Bind<&IEZFont::put_Orientation>(), kLongType)
      .Property(4, "Weight", Bind<&IEZFont::get_Weight>(), Bind<&IEZFont::put_Weight>(), kLongType)
      .Property(5, "Italic", Bind<&IEZFont::get_Italic>(), Bind<&IEZFont::put_Italic>(), kLongType)
      .Property(6, "Underline", Bind<&IEZFont::get_Underline>(), Bind<&IEZFont::put_Underline>(),
                kLongType)
      .Property(7, "StrikeOut", Bind<&IEZFont::get_StrikeOut>(), Bind<&IEZFont::put_StrikeOut>(),
                kLongType)
      .Property(8, "Name", Bind<&IEZFont::get_Name>(), Bind<&IEZFont::put_Name>(),
                automation::kStringType)
      .Property(9, "Color", Bind<&IEZFont::get_Color>(), Bind<&IEZFont::put_Color>(), kLongType)
      .Property(10, "FontFamily", Bind<&IEZFont::get_FontFamily>(),
                Bind<&IEZFont::put_FontFamily>(), automation::Enum("EZIFontFamily"))
      .Take();
}

automation::TypeLibraryDesc DescribeLibrary() {
  automation::TypeLibraryDesc library;
  library.name = "VELLUMLib";
  library.libid = LIBID_VELLUMLib;
  library.majorVersion = 1;
  library.minorVersion = 0;
  library.help = "Vellum 1.0 Type Library";
  library.enums = Enumerations();
  library.interfaces = {{"IEZFont", IID_IEZFont, "IEZFont Interface", FontMembers()},
                        {"IEasel", IID_IEasel, "IEasel Interface", EaselMembers()}};
  library.classes = {{"Easel", CLSID_Easel, "Easel Class", "IEasel"},
                     {"EZFont", CLSID_EZFont, "EZFont Class", "IEZFont"}};
  return library;
}

}  // namespace

std::shared_ptr<const automation::TypeLibraryDesc> VellumLibrary() {
  static const std::shared_ptr<const automation::TypeLibraryDesc> library =
      automation::ShareLibrary(DescribeLibrary());
  return library;
}

const automation::BoundInterface& EaselInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(VellumLibrary(), IID_IEasel);
  return bound;
}

const automation::BoundInterface& EZFontInterface() {
  static const automation::BoundInterface bound =
      automation::BindInterface(VellumLibrary(), IID_IEZFont);
  return bound;
}

}  // namespace vellum
