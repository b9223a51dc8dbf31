#include "vellum/codecs/identify.h"

#include <array>
#include <cstring>

namespace vellum {

namespace {

struct Signature {
  CoreFormat format;
  size_t offset;
  size_t length;
  std::array<uint8_t, 8> bytes;
};

// Tried strictly in this order; the first match decides.
constexpr std::array<Signature, 17> kSignatures = {{
    {kFormatBmp, 0, 2, {0x42, 0x4D}},                                      // "BM"
    {kFormatGif, 0, 6, {0x47, 0x49, 0x46, 0x38, 0x39, 0x61}},              // "GIF89a"
    {kFormatGif, 0, 6, {0x47, 0x49, 0x46, 0x38, 0x37, 0x61}},              // "GIF87a"
    {kFormatJpeg, 0, 4, {0xFF, 0xD8, 0xFF, 0xE0}},                         // SOI + JFIF APP0
    {kFormatJpeg, 0, 3, {0xFF, 0xD8, 0xFF}},                               // any SOI
    {kFormatPcx, 0, 2, {0x0A, 0x00}},                                      // PCX version 0
    {kFormatPcx, 0, 2, {0x0A, 0x02}},                                      // version 2
    {kFormatPcx, 0, 2, {0x0A, 0x03}},                                      // version 3
    {kFormatPcx, 0, 2, {0x0A, 0x05}},                                      // version 5
    {kFormatTiff, 0, 2, {0x4D, 0x4D}},                                     // "MM"
    {kFormatTiff, 0, 2, {0x49, 0x49}},                                     // "II"
    {kFormatPng, 0, 8, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}},  // PNG signature
    {kFormatWmf, 0, 5, {0x01, 0x00, 0x09, 0x00, 0x00}},                    // plain metafile
    {kFormatWmf, 0, 4, {0xD7, 0xCD, 0xC6, 0x9A}},                          // placeable key
    {kFormatEmf, 40, 4, {0x20, 0x45, 0x4D, 0x46}},                         // " EMF"
    {kFormatPsd, 0, 4, {0x38, 0x42, 0x50, 0x53}},                          // "8BPS"
    {kFormatTwoZeroBytes, 0, 2, {0x00, 0x00}},
}};

bool Matches(const Signature& signature, const uint8_t* data, size_t count) {
  return signature.offset + signature.length <= count &&
         std::memcmp(data + signature.offset, signature.bytes.data(), signature.length) == 0;
}

}  // namespace

int32_t IdentifyFormat(HISSRC source) {
  return RunEntry([&](OpContext& ctx) -> int32_t {
    if (!CheckHandle(ctx, source)) return kFormatUnknown;
    std::array<uint8_t, kIdentifyBytes> start{};
    const size_t count = ReadBytes(source, start.data(), start.size());
    for (const Signature& signature : kSignatures) {
      if (Matches(signature, start.data(), count)) return signature.format;
    }
    return kFormatUnknown;
  });
}

}  // namespace vellum
