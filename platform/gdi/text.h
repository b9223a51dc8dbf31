// Text output on a device context with its selected font, colours, background
// mode and alignment.
#pragma once

#include <string_view>
#include <vector>

#include "platform/gdi/device.h"
#include "platform/gdi/fonts.h"

namespace gdi {

struct TextRequest {
  PointD reference;  // logical; unused with TA_UPDATECP
  UINT options = 0;  // ETO_OPAQUE, ETO_CLIPPED
  const RECT* rect = nullptr;
  std::u32string_view text;
  // Logical advance of each character; empty for the font's own advances.
  std::vector<double> advances;
};

void DrawTextRun(DeviceContext& dc, const TextRequest& request);

// The font scale of the context's mapping and the metrics of its font there.
FontScale ContextFontScale(const DeviceContext& dc);

}  // namespace gdi
