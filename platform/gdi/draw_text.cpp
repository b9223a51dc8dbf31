// DrawTextExA: text laid out in a rectangle, line under line from its top left,
// with prefix underlines and word ellipses, measured or drawn.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/raster.h"
#include "platform/gdi/text.h"
#include "platform/kernel/last_error.h"

namespace gdi {

namespace {

constexpr UINT kSupportedFormats =
    DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOCLIP | DT_CALCRECT | DT_NOPREFIX | DT_WORD_ELLIPSIS;
constexpr char32_t kPrefix = U'&';
constexpr std::u32string_view kEllipsis = U"...";
constexpr size_t kNone = std::u32string::npos;

// One line as laid out: its characters with their advances (device pixels) and
// the character a prefix marks for underlining.
struct Line {
  std::u32string text;
  std::vector<double> advances;
  size_t marked = kNone;
};

struct Layout {
  std::vector<Line> lines;
  FontMetrics metrics;  // device pixels
  double width = 0;     // of the widest line, device pixels
};

double SumOf(const std::vector<double>& advances, size_t count) {
  double total = 0;
  for (size_t i = 0; i < count && i < advances.size(); ++i) total += advances[i];
  return total;
}

bool IsBreak(char32_t c) { return c == U'\r' || c == U'\n'; }
bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }

// Lines end at CR, LF and CR LF; on a single line the breaks are left out.
std::vector<std::u32string> SplitLines(std::u32string_view text, bool singleLine) {
  std::vector<std::u32string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsBreak(text[i])) {
      lines.back().push_back(text[i]);
    } else if (!singleLine) {
      if (text[i] == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') ++i;
      lines.emplace_back();
    }
  }
  return lines;
}

// Takes the prefix characters out: "&&" stands for "&", "&x" marks x. Returns the
// position of the last marked character (kNone when there is none).
size_t StripPrefixes(std::u32string& text) {
  std::u32string kept;
  size_t marked = kNone;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kPrefix) {
      kept.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) break;  // a prefix at the end marks nothing
    if (text[i] != kPrefix) marked = kept.size();
    kept.push_back(text[i]);
  }
  text = std::move(kept);
  return marked;
}

// How many characters of a line wider than `room` stay in front of the ellipsis:
// up to the end of the last word that fits with it, else as much of the first
// word as fits.
size_t CharactersBeforeEllipsis(const Line& line, double room) {
  const std::u32string& text = line.text;
  size_t keep = 0;
  double width = 0;
  for (size_t k = 0; k < text.size(); width += line.advances[k], ++k) {
    if (width > room) break;
    if (k > 0 && IsBlank(text[k]) && !IsBlank(text[k - 1])) keep = k;
  }
  if (keep > 0) return keep;
  const auto wordStart = std::find_if_not(text.begin(), text.end(), IsBlank);
  const size_t wordEnd = std::find_if(wordStart, text.end(), IsBlank) - text.begin();
  width = 0;
  for (size_t k = 0; k < wordEnd && width + line.advances[k] <= room; ++k) {
    width += line.advances[k];
    keep = k + 1;
  }
  return keep;
}

// Cuts a line wider than `limit` so that it ends in the ellipsis.
void FitWithEllipsis(Line& line, double limit, const std::vector<double>& ellipsis) {
  if (SumOf(line.advances, line.advances.size()) <= limit) return;
  const size_t keep = CharactersBeforeEllipsis(line, limit - SumOf(ellipsis, ellipsis.size()));
  line.text.resize(keep);
  line.advances.resize(keep);
  line.text += kEllipsis;
  line.advances.insert(line.advances.end(), ellipsis.begin(), ellipsis.end());
  if (line.marked != kNone && line.marked >= keep) line.marked = kNone;
}

// False when the font cannot be had at the context's scale.
bool LayOut(const DeviceContext& dc, std::u32string_view text, UINT format, double limit,
            Layout* layout) {
  const LOGFONTA& font = dc.state.font->log;
  const FontScale scale = ContextFontScale(dc);
  std::vector<double> ellipsis;
  if ((format & DT_WORD_ELLIPSIS) && !MeasureText(font, scale, kEllipsis, nullptr, &ellipsis)) {
    return false;
  }
  for (std::u32string& piece : SplitLines(text, format & DT_SINGLELINE)) {
    Line line;
    line.text = std::move(piece);
    if (!(format & DT_NOPREFIX)) line.marked = StripPrefixes(line.text);
    if (!MeasureText(font, scale, line.text, &layout->metrics, &line.advances)) return false;
    if (format & DT_WORD_ELLIPSIS) FitWithEllipsis(line, limit, ellipsis);
    layout->width = std::max(layout->width, SumOf(line.advances, line.advances.size()));
    layout->lines.push_back(std::move(line));
  }
  return true;
}

// The bar under a marked character of a line whose top left is `reference`.
void UnderlineMarked(DeviceContext& dc, PointD reference, const Line& line,
                     const FontMetrics& metrics) {
  const PointD origin = dc.ToDevicePoint(reference);
  const double left = origin.x + SumOf(line.advances, line.marked);
  const double top = std::round(origin.y + metrics.ascent) + metrics.underlinePosition;
  FillDeviceRect(dc, left, top, left + line.advances[line.marked], top + metrics.lineThickness,
                 dc.state.textColor);
}

void DrawLines(DeviceContext& dc, const Layout& layout, const RECT& rect, UINT format,
               double lineHeight) {
  const UINT align = dc.state.textAlign;
  const ClipChain clip = dc.state.clip;
  dc.state.textAlign = TA_LEFT | TA_TOP;
  if (!(format & DT_NOCLIP)) AddClip(dc, {RectFigure(dc, rect)}, false, false);
  for (size_t i = 0; i < layout.lines.size(); ++i) {
    const Line& line = layout.lines[i];
    TextRequest request;
    request.reference = {double(rect.left), rect.top + lineHeight * static_cast<double>(i)};
    request.text = line.text;
    DrawTextRun(dc, request);
    if (line.marked != kNone) UnderlineMarked(dc, request.reference, line, layout.metrics);
  }
  dc.state.textAlign = align;
  if (dc.state.clip != clip) {
    dc.state.clip = clip;
    dc.ClipChanged();
  }
}

LONG Saturate(double value) {
  return static_cast<LONG>(std::clamp(std::round(value), double(INT_MIN), double(INT_MAX)));
}

}  // namespace

}  // namespace gdi

using namespace gdi;

int DrawTextExA(HDC handle, const char* text, int length, RECT* rect, UINT format,
                DRAWTEXTPARAMS* params) {
  DeviceContext* dc = LookupDc(handle);
  const bool calculate = (format & DT_CALCRECT) != 0;
  if (dc == nullptr || (!calculate && dc->kind != DeviceContext::Kind::kMemory)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (text == nullptr || rect == nullptr || length < -1 || params != nullptr ||
      (format & ~kSupportedFormats) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t count = length == -1 ? std::strlen(text) : static_cast<size_t>(length);
  const std::u32string decoded = DecodeAnsiText(std::string_view(text, count));
  const FontScale scale = ContextFontScale(*dc);
  Layout layout;
  if (!LayOut(*dc, decoded, format, (double(rect->right) - rect->left) * scale.x, &layout)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const double lineHeight = layout.metrics.Height() / (scale.y > 0 ? scale.y : 1);
  const LONG height = Saturate(lineHeight * static_cast<double>(layout.lines.size()));
  if (calculate) {
    rect->right = Saturate(rect->left + layout.width / (scale.x > 0 ? scale.x : 1));
    rect->bottom = Saturate(double(rect->top) + height);
  } else {
    DrawLines(*dc, layout, *rect, format, lineHeight);
  }
  return height;
}
