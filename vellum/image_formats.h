// What the save step tells a browser about each format of EZImageFormat (1 to 9):
// its MIME type, the extension a download name gets and the name used when the
// page's own name gives none.
#pragma once

#include <cstdint>
#include <string_view>

namespace vellum {

struct SaveFormatText {
  std::u16string_view mimeType;
  std::u16string_view extension;
  std::u16string_view defaultName;
};

inline constexpr SaveFormatText kSaveFormatTexts[] = {
    {u"image/bmp", u".BMP", u"SaveAs.bmp"},  {u"image/gif", u".GIF", u"SaveAs.GIF"},
    {u"image/jpeg", u".JPG", u"SaveAs.JPG"}, {u"image/png", u".PNG", u"SaveAs.png"},
    {u"image/pcx", u".PCX", u"SaveAs.pcx"},  {u"image/tiff", u".TIF", u"SaveAs.TIF"},
    {u"image/wmf", u".WMF", u"SaveAs.wmf"},  {u"image/emf", u".EMF", u"SaveAs.emf"},
    {u"image/psd", u".PSD", u"SaveAs.psd"},
};

// The texts of a format from 1 to 9, or null.
inline const SaveFormatText* FindSaveFormatText(int32_t format) {
  return format >= 1 && format <= 9 ? &kSaveFormatTexts[format - 1] : nullptr;
}

// PCX, WMF, EMF and PSD go to the browser as attachments: browsers do not show them.
inline bool SentAsAttachment(int32_t format) {
  return format == 5 || format == 7 || format == 8 || format == 9;
}

}  // namespace vellum
