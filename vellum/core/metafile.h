// Metafiles: rendering enhanced and Windows metafiles into RGB buffers on the
// reference screen, reading platform bitmaps back as pixels, and writing an RGB
// buffer as an enhanced or (placeable) Windows metafile holding one bitmap.
#pragma once

#include <cstdint>

#include "platform/gdi/gdi_types.h"
#include "platform/kernel/win_types.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/entry_frame.h"

namespace vellum {

// The 22-byte header in front of a placeable Windows metafile.
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kPlaceableHeaderSize = 22;

// The picture size (0.01 mm) a placeable header gives: (right - left) and
// (bottom - top) times 2540 over its units per inch, in unsigned 32-bit
// arithmetic. A header without units per inch gives 0 x 0 (no suggested size).
SIZE PlaceableHeaderExtents(const uint8_t header[kPlaceableHeaderSize]);

// Reads an EMF, a plain WMF or a placeable WMF file and renders it at its own
// size on the background colour. Plain WMF files not opened as such get the
// default extents (0.01 mm; 0 lets the metafile's window decide). A new RGB
// buffer, or null with the last-error code set: 2 for a missing file, 27 for an
// unreadable metafile, 3 for a short read, 41 when the WMF conversion fails.
HGLOBAL ReadMetafile(const char* fileName, int32_t* width, int32_t* height, int32_t defaultXExtent,
                     int32_t defaultYExtent, COLORREF background);

// Renders an enhanced metafile at its frame size on the reference screen over
// the background colour. The code goes to `ctx`, not to the thread's last error.
HGLOBAL RenderEnhMetaFile(OpContext& ctx, HENHMETAFILE metafile, int32_t* width, int32_t* height,
                          COLORREF background);

// A platform bitmap's pixels as a new RGB buffer, top row first (code to `ctx`).
HGLOBAL BitmapToRgb(OpContext& ctx, HBITMAP bitmap, int32_t* width, int32_t* height);

// Write the image as a metafile holding one 24-bit bitmap. Both return the
// destination's size on every path (0 when a failure came before any writing).
uint32_t WriteEMF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height);
uint32_t WriteWMF(HISDEST destination, const uint8_t* rgb, int32_t width, int32_t height,
                  BOOL placeable);

}  // namespace vellum
