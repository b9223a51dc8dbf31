// A fixture for the Easel's editing methods: one object driven through IDispatch, with
// direct access to its working image.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/error_info.h"
#include "platform/kernel/global_memory.h"
#include "tests/support/automation.h"
#include "tests/support/registry_sandbox.h"
#include "tests/vellum/vellum_objects.h"
#include "vellum/easel.h"

namespace vellum_testing {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& p) {
  return out << "(" << int{p.r} << "," << int{p.g} << "," << int{p.b} << ")";
}

constexpr const char16_t* kNoImage = u"Can not perform operation. No images were loaded\r\n";
constexpr const char16_t* kNotConverted = u"Image could not be converted to the BMP format\r\n";

class EaselFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(object_); }

  testing_support::Automation Script() { return testing_support::Automation(object_.Get()); }
  vellum::Easel& Object() { return *AsEasel(object_); }
  std::u16string ErrorDescription() { return Script().Get(u"ErrorDescription").Text(); }
  // What the last calls appended to ErrorDescription since `before`.
  std::u16string Appended(const std::u16string& before) {
    return ErrorDescription().substr(before.size());
  }
  // The description of the thread's error information (which a method returning S_OK
  // may leave behind), taken and cleared.
  static std::u16string TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return u"<none>";
    Bstr description;
    info->GetDescription(description.Receive());
    info->Release();
    return std::u16string(description.View());
  }
  LONG Width() { return Script().Get(u"Width").Long(); }
  LONG Height() { return Script().Get(u"Height").Long(); }

  // Installs `rgb` (width x height pixels, or any bytes) as the working image, in a
  // block of `blockSize` bytes (its own size when 0).
  HGLOBAL Install(const std::vector<uint8_t>& rgb, uint32_t width, int32_t height,
                  size_t blockSize = 0) {
    HGLOBAL block = GlobalAlloc(GPTR, blockSize != 0 ? blockSize : rgb.size());
    std::memcpy(block, rgb.data(), rgb.size());
    Object().ReplaceImage(block, width, height);
    return block;
  }
  // A width x height image whose pixel (x, y) is (x, y, x + y * width).
  void InstallPattern(uint32_t width, uint32_t height) {
    std::vector<uint8_t> rgb;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        rgb.insert(rgb.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                               static_cast<uint8_t>(x + y * width)});
      }
    }
    Install(rgb, width, static_cast<int32_t>(height));
  }
  static Rgb Pattern(uint32_t x, uint32_t y, uint32_t width) {
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x + y * width)};
  }

  // Every byte of the working image's block.
  std::vector<uint8_t> Bytes() {
    const HGLOBAL image = Object().Image();
    if (image == nullptr) return {};
    const auto* data = static_cast<const uint8_t*>(GlobalLock(image));
    std::vector<uint8_t> bytes(data, data + GlobalSize(image));
    GlobalUnlock(image);
    return bytes;
  }
  Rgb Pixel(LONG x, LONG y) {
    const std::vector<uint8_t> bytes = Bytes();
    const size_t at = (static_cast<size_t>(y) * Width() + x) * 3;
    return {bytes.at(at), bytes.at(at + 1), bytes.at(at + 2)};
  }

  testing_support::RegistrySandbox sandbox_;
  ComPtr<IDispatch> object_ = CreateDispatch(vellum::CLSID_Easel);
};

}  // namespace vellum_testing
