#include "platform/gdi/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/gdi/gdi.h"

namespace gdi {

namespace {

// Sizes beyond these are not drawn while a metafile plays: there they only come from
// hostile files. Elsewhere a bitmap's bounds apply.
constexpr double kMaxMetafileEmPixels = 1024;
constexpr double kMaxMetafileMaskPixels = 16.0 * 1024 * 1024;

thread_local int metafileDepth = 0;

double MaxEmPixels() { return metafileDepth > 0 ? kMaxMetafileEmPixels : kMaxBitmapSide; }
double MaxMaskPixels() {
  return metafileDepth > 0 ? kMaxMetafileMaskPixels : static_cast<double>(kMaxBitmapPixels);
}
constexpr size_t kMaxResolvedNames = 256;
// Height 0 asks for the default size.
constexpr double kDefaultEmPixels = 16;

struct FaceKey {
  std::string file;
  int index = 0;
  bool operator<(const FaceKey& o) const {
    return file < o.file || (file == o.file && index < o.index);
  }
};

struct ResolvedFace {
  FaceKey key;
  bool needsSlant = false;  // italic asked for, none found
};

// FreeType's library, the faces opened so far and the names resolved so far;
// guarded by one mutex.
class FontStore {
 public:
  static FontStore& Instance() {
    static FontStore store;
    return store;
  }
  std::mutex& Mutex() { return mutex_; }

  // Both need the mutex held.
  FT_Face Face(const LOGFONTA& font, bool* needsSlant) {
    if (library_ == nullptr) return nullptr;
    const ResolvedFace* resolved = Resolve(font);
    if (resolved == nullptr) return nullptr;
    *needsSlant = resolved->needsSlant;
    auto it = faces_.find(resolved->key);
    if (it != faces_.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library_, resolved->key.file.c_str(), resolved->key.index, &face) != 0)
      face = nullptr;
    faces_.emplace(resolved->key, face);
    return face;
  }

 private:
  FontStore() {
    if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
    FcInit();
  }
  ~FontStore() = default;  // lives for the process; faces stay open

  static const char* GenericFamily(BYTE pitchAndFamily) {
    switch (pitchAndFamily & 0xF0) {
      case FF_ROMAN:
        return "serif";
      case FF_MODERN:
        return "monospace";
      case FF_SCRIPT:
        return "cursive";
      case FF_DECORATIVE:
        return "fantasy";
      default:
        return (pitchAndFamily & 0x03) == FIXED_PITCH ? "monospace" : "sans-serif";
    }
  }

  static std::string NameKey(const LOGFONTA& font) {
    return std::string(font.lfFaceName, strnlen(font.lfFaceName, LF_FACESIZE)) + "|" +
           std::to_string(font.lfWeight) + "|" + std::to_string(font.lfItalic != 0) + "|" +
           std::to_string(font.lfPitchAndFamily);
  }

  const ResolvedFace* Resolve(const LOGFONTA& font) {
    const std::string key = NameKey(font);
    auto it = resolved_.find(key);
    if (it != resolved_.end()) return &it->second;
    if (resolved_.size() >= kMaxResolvedNames) resolved_.clear();
    const std::string face(font.lfFaceName, strnlen(font.lfFaceName, LF_FACESIZE));
    FcPattern* pattern = FcPatternCreate();
    const char* family = face.empty() ? GenericFamily(font.lfPitchAndFamily) : face.c_str();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    const int weight = font.lfWeight <= 0 ? FW_NORMAL : std::clamp<int>(font.lfWeight, 1, 1000);
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, font.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return nullptr;
    ResolvedFace resolved;
    FcChar8* file = nullptr;
    int index = 0, slant = FC_SLANT_ROMAN;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
      resolved.key.file = reinterpret_cast<const char*>(file);
    }
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    FcPatternDestroy(match);
    if (resolved.key.file.empty()) return nullptr;
    resolved.key.index = index;
    resolved.needsSlant = font.lfItalic && slant == FC_SLANT_ROMAN;
    return &resolved_.emplace(key, resolved).first->second;
  }

  std::mutex mutex_;
  FT_Library library_ = nullptr;
  std::map<std::string, ResolvedFace> resolved_;
  std::map<FaceKey, FT_Face> faces_;
};

// A face sized for a logical font at a scale; valid while the store's mutex is held.
struct SizedFace {
  FT_Face face = nullptr;
  bool slant = false;
  double emX = 0;
  double emY = 0;
  FontMetrics metrics;
};

bool SizeFace(const LOGFONTA& font, FontScale scale, SizedFace* sized) {
  FT_Face face = FontStore::Instance().Face(font, &sized->slant);
  if (face == nullptr || face->units_per_EM == 0) return false;
  const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const double upem = face->units_per_EM;
  double ascentUnits = face->ascender, descentUnits = -face->descender;
  if (os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
    ascentUnits = os2->usWinAscent;
    descentUnits = os2->usWinDescent;
  }
  if (ascentUnits + descentUnits <= 0) ascentUnits = upem, descentUnits = 0;
  double emY = kDefaultEmPixels;
  if (font.lfHeight < 0) {
    emY = -double(font.lfHeight) * std::fabs(scale.y);
  } else if (font.lfHeight > 0) {
    emY = font.lfHeight * std::fabs(scale.y) * upem / (ascentUnits + descentUnits);
  }
  double emX = emY;
  if (font.lfWidth != 0 && os2 != nullptr && os2->xAvgCharWidth > 0) {
    const double natural = os2->xAvgCharWidth * emY / upem;
    emX = emY * std::fabs(double(font.lfWidth) * scale.x) / natural;
  }
  if (!std::isfinite(emX) || !std::isfinite(emY) || emY < 1 || emY > MaxEmPixels() || emX < 1 ||
      emX > MaxEmPixels()) {
    return false;
  }
  if (FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(emX * 64), static_cast<FT_F26Dot6>(emY * 64),
                       72, 72) != 0) {
    return false;
  }
  sized->face = face;
  sized->emX = emX;
  sized->emY = emY;
  FontMetrics& m = sized->metrics;
  m.ascent = std::round(ascentUnits * emY / upem);
  m.descent = std::round(descentUnits * emY / upem);
  m.lineThickness = std::max(
      1.0, std::round(std::max<double>(face->underline_thickness, upem / 20) * emY / upem));
  m.underlinePosition = std::max(1.0, std::round(-double(face->underline_position) * emY / upem));
  m.strikeoutPosition =
      std::round((os2 != nullptr ? os2->yStrikeoutPosition : upem / 4) * emY / upem);
  return true;
}

FT_UInt GlyphIndex(FT_Face face, char32_t c) {
  FT_UInt index = FT_Get_Char_Index(face, c);
  if (index == 0 && c < 0x100) index = FT_Get_Char_Index(face, 0xF000 + c);  // symbol fonts
  return index;
}

bool LoadGlyph(FT_Face face, char32_t c, bool render) {
  if (FT_Load_Glyph(face, GlyphIndex(face, c), FT_LOAD_TARGET_MONO) != 0) return false;
  return !render || FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) == 0;
}

// A rendered glyph kept while the mask's bounds are found.
struct PlacedGlyph {
  int left = 0;  // device pixel of the bitmap's top-left, relative to the origin
  int top = 0;
  int width = 0;
  int rows = 0;
  std::vector<uint8_t> bits;  // one byte per pixel
};

PlacedGlyph PlaceGlyph(const FT_GlyphSlot slot, double penX, double penY) {
  PlacedGlyph glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  glyph.left = static_cast<int>(std::lround(penX)) + slot->bitmap_left;
  glyph.top = static_cast<int>(std::lround(penY)) - slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.bits.resize(static_cast<size_t>(glyph.width) * glyph.rows);
  for (int y = 0; y < glyph.rows; ++y) {
    const uint8_t* row = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
    for (int x = 0; x < glyph.width; ++x) {
      const bool on = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? (row[x >> 3] >> (7 - (x & 7)) & 1)
                                                              : row[x] >= 128;
      glyph.bits[static_cast<size_t>(y) * glyph.width + x] = on ? 255 : 0;
    }
  }
  return glyph;
}

void Line(TextMask* mask, double x0, double y0, double dx, double dy, double length,
          double thickness) {
  // A straight bar along the baseline direction, `thickness` pixels across.
  const int steps = static_cast<int>(std::ceil(length)) + 1;
  for (int i = 0; i < steps; ++i) {
    for (int t = 0; t < static_cast<int>(thickness); ++t) {
      const int x = static_cast<int>(std::lround(x0 + dx * i - dy * t));
      const int y = static_cast<int>(std::lround(y0 + dy * i + dx * t));
      if (x >= 0 && y >= 0 && x < mask->width && y < mask->height) {
        mask->pixels[static_cast<size_t>(y) * mask->width + x] = 255;
      }
    }
  }
}

}  // namespace

MetafileTextBounds::MetafileTextBounds() { ++metafileDepth; }
MetafileTextBounds::~MetafileTextBounds() { --metafileDepth; }

bool MeasureText(const LOGFONTA& font, FontScale scale, std::u32string_view text,
                 FontMetrics* metrics, std::vector<double>* advances) {
  std::lock_guard<std::mutex> lock(FontStore::Instance().Mutex());
  SizedFace sized;
  if (!SizeFace(font, scale, &sized)) return false;
  FT_Set_Transform(sized.face, nullptr, nullptr);
  if (metrics != nullptr) *metrics = sized.metrics;
  if (advances != nullptr) {
    advances->clear();
    advances->reserve(text.size());
    std::unordered_map<char32_t, double> known;  // each glyph is loaded (and hinted) once
    for (char32_t c : text) {
      const auto [it, added] = known.try_emplace(c, 0.0);
      if (added && LoadGlyph(sized.face, c, false))
        it->second = sized.face->glyph->advance.x / 64.0;
      advances->push_back(it->second);
    }
  }
  return true;
}

bool RenderTextMask(const LOGFONTA& font, FontScale scale, std::u32string_view text,
                    const std::vector<double>& advances, double angle, TextMask* mask) {
  std::lock_guard<std::mutex> lock(FontStore::Instance().Mutex());
  SizedFace sized;
  if (!SizeFace(font, scale, &sized) || !std::isfinite(angle)) return false;
  const double cosA = std::cos(angle), sinA = std::sin(angle);
  const double shear = sized.slant ? 0.2 : 0;
  FT_Matrix matrix;
  matrix.xx = static_cast<FT_Fixed>(cosA * 65536);
  matrix.xy = static_cast<FT_Fixed>((-sinA + shear * cosA) * 65536);
  matrix.yx = static_cast<FT_Fixed>(sinA * 65536);
  matrix.yy = static_cast<FT_Fixed>((cosA + shear * sinA) * 65536);
  FT_Set_Transform(sized.face, &matrix, nullptr);

  std::vector<PlacedGlyph> glyphs;
  double pen = 0;
  int minX = 0, minY = 0, maxX = 1, maxY = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    // Device y grows downward; the baseline runs along (cos, -sin).
    if (LoadGlyph(sized.face, text[i], true)) {
      glyphs.push_back(PlaceGlyph(sized.face->glyph, pen * cosA, -pen * sinA));
      const PlacedGlyph& g = glyphs.back();
      minX = std::min(minX, g.left), minY = std::min(minY, g.top);
      maxX = std::max(maxX, g.left + g.width), maxY = std::max(maxY, g.top + g.rows);
    }
    const double advance = i < advances.size() && std::isfinite(advances[i]) ? advances[i] : 0;
    // A run no mask could hold ends before the advance that takes it there, so that the
    // pen stays within what the mask's integer bounds can follow.
    if (std::fabs(pen + advance) > MaxEmPixels() * 4096) break;
    pen += advance;
  }
  FT_Set_Transform(sized.face, nullptr, nullptr);
  // Room for underline and strike-out bars along the whole run.
  const double endX = pen * cosA, endY = -pen * sinA;
  const int reach = static_cast<int>(sized.metrics.descent + sized.metrics.lineThickness) + 2;
  minX = std::min(minX, static_cast<int>(std::floor(std::min(0.0, endX))) - reach);
  maxX = std::max(maxX, static_cast<int>(std::ceil(std::max(0.0, endX))) + reach);
  minY = std::min(minY, static_cast<int>(std::floor(std::min(0.0, endY))) - reach);
  maxY = std::max(maxY, static_cast<int>(std::ceil(std::max(0.0, endY))) + reach);
  if (double(maxX - minX) * double(maxY - minY) > MaxMaskPixels()) return false;

  mask->width = maxX - minX;
  mask->height = maxY - minY;
  mask->originX = -minX;
  mask->originY = -minY;
  mask->pixels.assign(static_cast<size_t>(mask->width) * mask->height, 0);
  for (const PlacedGlyph& g : glyphs) {
    for (int y = 0; y < g.rows; ++y) {
      uint8_t* out =
          &mask->pixels[static_cast<size_t>(g.top - minY + y) * mask->width + (g.left - minX)];
      const uint8_t* in = &g.bits[static_cast<size_t>(y) * g.width];
      for (int x = 0; x < g.width; ++x) out[x] |= in[x];
    }
  }
  const double length = std::fabs(pen);
  const double dx = pen >= 0 ? cosA : -cosA, dy = pen >= 0 ? -sinA : sinA;
  const double startX = (pen >= 0 ? 0 : endX) - minX, startY = (pen >= 0 ? 0 : endY) - minY;
  const auto bar = [&](double offset) {
    // `offset` pixels below the baseline, across the run.
    Line(mask, startX - sinA * offset, startY + cosA * offset, dx, dy, length,
         sized.metrics.lineThickness);
  };
  if (font.lfUnderline) bar(sized.metrics.underlinePosition);
  if (font.lfStrikeOut) bar(-sized.metrics.strikeoutPosition);
  return true;
}

std::u32string DecodeAnsiText(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    const int length = b < 0x80         ? 1
                       : (b >> 5) == 6  ? 2
                       : (b >> 4) == 14 ? 3
                       : (b >> 3) == 30 ? 4
                                        : 0;
    char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = c << 6 | (next & 0x3F);
    }
    if (valid && c <= 0x10FFFF) {
      out.push_back(c);
      i += length;
    } else {
      out.push_back(b);
      i += 1;
    }
  }
  return out;
}

std::u32string DecodeCodePageText(std::string_view bytes, BYTE charset) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::u32string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto b = static_cast<uint8_t>(ch);
    if (charset == SYMBOL_CHARSET) {
      out.push_back(b);  // GlyphIndex looks symbol fonts up in their private area
    } else {
      out.push_back(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
  }
  return out;
}

}  // namespace gdi

// fontconfig loses a few bytes while it parses its configuration files, once per
// process; leak-checking builds are told so rather than failing on it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUM_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VELLUM_LEAK_CHECKED)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
