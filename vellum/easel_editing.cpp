// The helpers the Easel's editing and creation methods share.
#include "vellum/easel_editing.h"

#include "platform/kernel/global_memory.h"

namespace vellum {

GlobalBlock AllocateRgbResult(uint64_t width, uint64_t height) {
  const uint64_t bytes = ImageBytes(static_cast<int64_t>(width), static_cast<int64_t>(height), 3);
  GlobalBlock block(bytes <= kMaxImageBufferBytes ? GlobalAlloc(GHND, bytes) : nullptr);
  if (!block) throw CEZException("Not enough memory to perform the operation", 0);
  return block;
}

void Easel::RequireImage() {
  if (image_ == nullptr) ReportFailure(u"Can not perform operation. No images were loaded");
}

void Easel::NormalizeForEditing() {
  if (!NormalizeImage(0, nullptr)) ReportFailure(u"Image could not be converted to the BMP format");
}

void Easel::RequireRgbPixels() {
  if (GlobalSize(image_) < ImageBytes(width_, height_, 3)) NormalizeForEditing();
}

void Easel::InstallRgbImage(HGLOBAL image, uint32_t width, int32_t height) {
  ReplaceImage(image, width, height);
  normalized_ = 1;
}

}  // namespace vellum
