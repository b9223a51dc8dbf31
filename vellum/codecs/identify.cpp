#include "vellum/codecs/identify.h"

#include <array>
#include <cstring>

#include "vellum/codecs/formats.h"

namespace vellum {

namespace {

bool Matches(const SignaturePiece& piece, const uint8_t* data, size_t count) {
  return !piece.bytes.empty() && piece.offset + piece.bytes.size() <= count &&
         std::memcmp(data + piece.offset, piece.bytes.data(), piece.bytes.size()) == 0;
}

bool Matches(const Signature& signature, const uint8_t* data, size_t count) {
  return Matches(signature.first, data, count) &&
         (signature.second.bytes.empty() || Matches(signature.second, data, count));
}

}  // namespace

int32_t IdentifyFormat(HISSRC source) {
  return RunEntry([&](OpContext& ctx) -> int32_t {
    if (!CheckHandle(ctx, source)) return kFormatUnknown;
    std::array<uint8_t, kIdentifyBytes> start{};
    const size_t count = ReadBytes(source, start.data(), start.size());
    for (const FileFormat* format = FileFormatsBegin(); format != FileFormatsEnd(); ++format) {
      for (const Signature& signature : format->signatures) {
        if (Matches(signature, start.data(), count)) return format->code;
      }
      if (format->matches != nullptr && format->matches(start.data(), count)) return format->code;
    }
    return kFormatUnknown;
  });
}

}  // namespace vellum
