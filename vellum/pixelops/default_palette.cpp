#include "vellum/pixelops/default_palette.h"

namespace vellum {

namespace {

struct Rgb {
  BYTE red, green, blue;
};

constexpr Rgb kFixedColors[16] = {
    {255, 255, 255}, {255, 255, 0},   {102, 255, 0},   {0, 0, 255},   {0, 0, 0},   {255, 0, 0},
    {0, 255, 0},     {0, 0, 102},     {102, 102, 102}, {102, 0, 0},   {0, 102, 0}, {102, 102, 255},
    {204, 204, 204}, {255, 102, 102}, {102, 255, 102}, {102, 0, 255},
};

RGBQUAD Entry(BYTE red, BYTE green, BYTE blue) { return RGBQUAD{blue, green, red, 0}; }

}  // namespace

Palette MakeDefaultPalette() {
  Palette palette{};  // entries past the cube stay black
  size_t next = 0;
  for (const Rgb& color : kFixedColors) palette[next++] = Entry(color.red, color.green, color.blue);
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) {
        palette[next++] =
            Entry(static_cast<BYTE>(51 * r), static_cast<BYTE>(51 * g), static_cast<BYTE>(51 * b));
      }
    }
  }
  return palette;
}

}  // namespace vellum
