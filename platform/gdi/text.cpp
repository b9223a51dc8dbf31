#include "platform/gdi/text.h"

#include <cmath>
#include <numbers>

#include "platform/gdi/gdi.h"
#include "platform/gdi/raster.h"
#include "platform/kernel/last_error.h"

namespace gdi {

namespace {

// The baseline's angle on the device (counter-clockwise, radians): the font's
// escapement plus the rotation of the context's mapping.
double BaselineAngle(const DeviceContext& dc) {
  const Affine m = dc.ToDevice();
  const double escapement = dc.state.font->log.lfEscapement / 10.0 * std::numbers::pi / 180;
  const double flip = m.d < 0 ? -1 : 1;  // a mapping with y up keeps the visual direction
  const double rotation = std::atan2(-m.b * flip, std::fabs(m.a) > 0 ? m.a : 1);
  return escapement + rotation;
}

double Sum(const std::vector<double>& values) {
  double total = 0;
  for (double v : values) total += v;
  return total;
}

// Fills the text's cell (background mode OPAQUE): a box from the top to the
// bottom of the line along the baseline.
void FillCell(DeviceContext& dc, PointD origin, double cosA, double sinA, double width,
              const FontMetrics& metrics) {
  const PointD up{-sinA * metrics.ascent, -cosA * metrics.ascent};
  const PointD down{sinA * metrics.descent, cosA * metrics.descent};
  const PointD along{cosA * width, -sinA * width};
  Figure cell{{}, true};
  for (PointD p : {PointD{origin.x + up.x, origin.y + up.y},
                   PointD{origin.x + up.x + along.x, origin.y + up.y + along.y},
                   PointD{origin.x + down.x + along.x, origin.y + down.y + along.y},
                   PointD{origin.x + down.x, origin.y + down.y}}) {
    cell.points.push_back({p.x - 0.5, p.y - 0.5});  // pixel edges, traced through centres
  }
  Brush background;
  background.color = dc.state.bkColor;
  FillFigures(dc, {cell}, background, false);
}

}  // namespace

FontScale ContextFontScale(const DeviceContext& dc) {
  const Affine m = dc.ToDevice();
  return {std::hypot(m.a, m.b), std::hypot(m.c, m.d)};
}

void DrawTextRun(DeviceContext& dc, const TextRequest& request) {
  const LOGFONTA& font = dc.state.font->log;
  const FontScale scale = ContextFontScale(dc);
  FontMetrics metrics;
  std::vector<double> advances;
  if (!MeasureText(font, scale, request.text, &metrics, &advances)) return;
  if (!request.advances.empty()) {
    for (size_t i = 0; i < advances.size(); ++i) {
      advances[i] = i < request.advances.size() ? request.advances[i] * scale.x : 0;
    }
  }
  const double width = Sum(advances);
  const Affine m = dc.ToDevice();
  const UINT align = dc.state.textAlign;
  const PointD reference = m.Apply((align & TA_UPDATECP) ? dc.state.position : request.reference);
  const double angle = BaselineAngle(dc);
  const double cosA = std::cos(angle), sinA = std::sin(angle);

  double shift = 0;  // along the baseline, from the reference point to the origin
  if ((align & TA_CENTER) == TA_CENTER) {
    shift = -width / 2;
  } else if (align & TA_RIGHT) {
    shift = -width;
  }
  double drop = metrics.ascent;  // down from the reference point to the baseline
  if ((align & TA_BASELINE) == TA_BASELINE) {
    drop = 0;
  } else if (align & TA_BOTTOM) {
    drop = -metrics.descent;
  }
  const PointD origin{reference.x + cosA * shift + sinA * drop,
                      reference.y - sinA * shift + cosA * drop};

  const ClipChain clip = dc.state.clip;
  if (request.rect != nullptr && (request.options & ETO_OPAQUE)) {
    Brush background;
    background.color = dc.state.bkColor;
    FillFigures(dc, {RectFigure(dc, *request.rect)}, background, false);
  }
  if (request.rect != nullptr && (request.options & ETO_CLIPPED)) {
    AddClip(dc, {RectFigure(dc, *request.rect)}, false, false);
  }
  if (dc.state.bkMode == OPAQUE && !(request.options & ETO_OPAQUE)) {
    FillCell(dc, origin, cosA, sinA, width, metrics);
  }
  TextMask mask;
  if (RenderTextMask(font, scale, request.text, advances, angle, &mask)) {
    PaintMask(dc, mask.pixels.data(), mask.width, mask.height,
              static_cast<int>(std::lround(origin.x - mask.originX)),
              static_cast<int>(std::lround(origin.y - mask.originY)), dc.state.textColor);
  }
  if (dc.state.clip != clip) {
    dc.state.clip = clip;
    dc.ClipChanged();
  }
  if ((align & TA_UPDATECP) && m.Invertible()) {
    const PointD end{reference.x + cosA * width, reference.y - sinA * width};
    dc.state.position = m.Inverse().Apply(end);
  }
}

}  // namespace gdi

using namespace gdi;

BOOL TextOutA(HDC handle, int x, int y, const char* text, int length) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kMemory || text == nullptr || length < 0) {
    return FALSE;
  }
  const std::u32string decoded =
      DecodeAnsiText(std::string_view(text, static_cast<size_t>(length)));
  TextRequest request;
  request.reference = {double(x), double(y)};
  request.text = decoded;
  DrawTextRun(*dc, request);
  return TRUE;
}

BOOL ExtTextOutW(HDC handle, int x, int y, UINT options, const RECT* rect, const WCHAR* text,
                 UINT length, const INT* dx) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || dc->kind != DeviceContext::Kind::kMemory ||
      (text == nullptr && length > 0)) {
    return FALSE;
  }
  std::u32string decoded;
  for (UINT i = 0; i < length; ++i) decoded.push_back(text[i]);
  TextRequest request;
  request.reference = {double(x), double(y)};
  request.options = options;
  request.rect = rect;
  request.text = decoded;
  if (dx != nullptr) {
    for (UINT i = 0; i < length; ++i) request.advances.push_back(dx[i]);
  }
  DrawTextRun(*dc, request);
  return TRUE;
}

BOOL GetTextExtentPointA(HDC handle, const char* text, int length, SIZE* size) {
  DeviceContext* dc = LookupDc(handle);
  if (dc == nullptr || text == nullptr || length < 0 || size == nullptr) {
    SetLastError(dc == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u32string decoded =
      DecodeAnsiText(std::string_view(text, static_cast<size_t>(length)));
  const FontScale scale = ContextFontScale(*dc);
  FontMetrics metrics;
  std::vector<double> advances;
  if (!MeasureText(dc->state.font->log, scale, decoded, &metrics, &advances)) {
    SetLastError(ERROR_INVALID_PARAMETER);  // no face, or a size that is not drawn
    return FALSE;
  }
  size->cx = static_cast<LONG>(std::lround(Sum(advances) / (scale.x > 0 ? scale.x : 1)));
  size->cy = static_cast<LONG>(std::lround(metrics.Height() / (scale.y > 0 ? scale.y : 1)));
  return TRUE;
}
