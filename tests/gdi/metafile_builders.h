// Hand-made metafiles for the GDI tests: an enhanced-metafile builder on the
// layer's own record writer, a Windows-metafile builder, and playback onto a
// canvas.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_records.h"
#include "tests/gdi/canvas.h"

namespace gdi_testing {

constexpr uint32_t kStock = 0x80000000u;

// An enhanced metafile of `pixels` reference pixels (0.25 mm each).
class EmfBuilder {
 public:
  explicit EmfBuilder(SIZE pixels = {40, 20})
      : writer_(RECT{0, 0, pixels.cx * 25, pixels.cy * 25}, SIZE{1920, 1080}, SIZE{480, 270}) {}
  gdi::EmfWriter* operator->() { return &writer_; }
  void Box(uint32_t type, RECT r) {
    writer_.Begin(type);
    writer_.Rect(r);
    writer_.End();
  }
  // A record of bounds, a count and 16- or 32-bit points.
  void Points(uint32_t type, const std::vector<POINT>& points, bool shortPoints) {
    writer_.Begin(type);
    writer_.Rect({0, 0, -1, -1});
    writer_.U32(static_cast<uint32_t>(points.size()));
    for (const POINT& p : points) {
      if (shortPoints) {
        const int16_t xy[2] = {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y)};
        writer_.Bytes(xy, 4);
      } else {
        writer_.I32(p.x), writer_.I32(p.y);
      }
    }
    writer_.End();
  }
  std::vector<uint8_t> Bytes() {
    writer_.SetHandleCount(16);
    return writer_.Finish();
  }
  HENHMETAFILE Finish() {
    const std::vector<uint8_t> bytes = Bytes();
    return SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  }

 private:
  gdi::EmfWriter writer_;
};

// Plays a metafile onto a white canvas of the given size.
inline std::unique_ptr<Canvas> Play(HENHMETAFILE emf, int width, int height,
                                    BOOL* complete = nullptr) {
  auto canvas = std::make_unique<Canvas>(width, height);
  const RECT area{0, 0, width, height};
  const BOOL played = PlayEnhMetaFile(canvas->Dc(), emf, &area);
  if (complete != nullptr) *complete = played;
  return canvas;
}

// Windows-metafile records: size in words, function, parameters.
class WmfBuilder {
 public:
  WmfBuilder() { Words({1, 9, 0x0300, 0, 0, 0, 0, 0, 0}); }
  void Record(uint16_t function, std::initializer_list<int> params,
              const std::vector<uint8_t>& tail = {}) {
    const uint32_t words =
        3 + static_cast<uint32_t>(params.size()) + static_cast<uint32_t>((tail.size() + 1) / 2);
    Words({static_cast<uint16_t>(words), static_cast<uint16_t>(words >> 16), function});
    for (int p : params) Words({static_cast<uint16_t>(p)});
    bytes_.insert(bytes_.end(), tail.begin(), tail.end());
    if (tail.size() % 2 != 0) bytes_.push_back(0);
  }
  std::vector<uint8_t> Finish() {
    Record(gdi::META_EOF, {});
    return bytes_;
  }
  // Converted with a picture of the given pixels and played at that size.
  std::unique_ptr<Canvas> Play(int width, int height) {
    const std::vector<uint8_t> bytes = Finish();
    const METAFILEPICT picture{MM_ANISOTROPIC, width * 25, height * 25, nullptr};
    HENHMETAFILE emf =
        SetWinMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data(), nullptr, &picture);
    auto canvas = gdi_testing::Play(emf, width, height);
    DeleteEnhMetaFile(emf);
    return canvas;
  }

 private:
  void Words(std::initializer_list<uint16_t> words) {
    for (uint16_t w : words)
      bytes_.push_back(static_cast<uint8_t>(w)), bytes_.push_back(static_cast<uint8_t>(w >> 8));
  }
  std::vector<uint8_t> bytes_;
};

// A packed DIB: header, colour table, bottom-up rows padded to four bytes.
inline std::vector<uint8_t> PackedDib(int width, int height, int bitCount,
                                      const std::vector<RGBQUAD>& colors,
                                      const std::vector<uint8_t>& rows,
                                      DWORD compression = BI_RGB) {
  BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER),
                          width,
                          height,
                          1,
                          static_cast<WORD>(bitCount),
                          compression,
                          0,
                          0,
                          0,
                          static_cast<DWORD>(colors.size()),
                          0};
  std::vector<uint8_t> dib(sizeof header);
  std::memcpy(dib.data(), &header, sizeof header);
  for (const RGBQUAD& c : colors) dib.insert(dib.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed, 0});
  dib.insert(dib.end(), rows.begin(), rows.end());
  return dib;
}

}  // namespace gdi_testing
