// Many Easel objects at once, one per thread, each through every step a page takes:
// loading, editing, text and saving in every format. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/automation.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variant_values.h"
#include "tests/vellum/vellum_objects.h"

namespace {

using testing_support::ArrayBytes;
using testing_support::Automation;
using testing_support::ByteArray;

constexpr int kThreads = 8;
constexpr int kFormats = 9;
constexpr LONG kWidth = 72;
constexpr LONG kHeight = 48;

// One object's work: returns what went wrong, or an empty text.
std::string RunOneEasel(int thread, const std::string& folder) {
  ComPtr<IDispatch> object = vellum_testing::CreateDispatch(vellum::CLSID_Easel);
  if (!object) return "no object";
  Automation easel(object.Get());
  ComPtr<IDispatch> fontObject;
  easel.Get(u"Font").value.pdispVal->QueryInterface(IID_IDispatch, fontObject.ReceiveVoid());
  Automation(fontObject.Get()).Put(u"Height", -14);
  const LONG resolutions[] = {24, 8, 4, 1};
  for (int format = 1; format <= kFormats; ++format) {
    const std::string where =
        "thread " + std::to_string(thread) + " format " + std::to_string(format) + ": ";
    if (easel
            .Call(u"CreateGradientImage", kWidth, kHeight, 0x102030 * (thread + 1), 0xF0E0D0,
                  format % 2)
            .hr != S_OK) {
      return where + "gradient";
    }
    easel.Put(u"ColorResolution", resolutions[(thread + format) % 4]);
    const std::vector<uint8_t> bytes =
        ArrayBytes(easel.Call(u"SaveImage", 1, format, Variant()).value);
    if (bytes.empty()) return where + "save to memory";
    if (easel.Call(u"LoadImage", ByteArray(bytes)).hr != S_OK) return where + "load";
    easel.Call(u"RotateImage", 30, 0x00FF00);
    easel.Call(u"ResizeImage", kWidth, kHeight, format % 3, 0);
    easel.Call(u"SharpenImage", 2);
    easel.Call(u"BlurImage", 1);
    easel.Call(u"ChangeBrightness", 0.2);
    easel.Call(u"FillRectInImage", 4, 4, 10, 10, 0x0000FF);
    easel.Call(u"DrawLineOnImage", 0, 0, kWidth - 1, kHeight - 1, 0xFFFFFF);
    easel.Call(u"DrawEllipseOnImage", 30, 20, 12, 8, 1, 0x00FFFF);
    easel.Put(u"AntiAliasFactor", format % 2 == 0 ? 4 : 0);
    easel.Call(u"DrawTextOnImage", 2, 2, 0, 0, u"Stress");
    const std::string path = folder + "/picture" + std::to_string(format);
    if (easel.Call(u"SaveImage", 0, format, std::u16string(path.begin(), path.end())).hr != S_OK) {
      return where + "save to a file";
    }
    if (easel.Call(u"LoadImage", std::u16string(path.begin(), path.end())).hr != S_OK) {
      return where + "load the file";
    }
  }
  const std::u16string errors = easel.Get(u"ErrorDescription").Text();
  if (!errors.empty())
    return "thread " + std::to_string(thread) + ": " + std::string(errors.begin(), errors.end());
  return "";
}

TEST(EaselStress, EightObjectsOnEightThreadsThroughEveryFormat) {
  const testing_support::TempDir dir;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    const std::string folder = dir.File("t" + std::to_string(t));
    std::filesystem::create_directory(folder);
    threads.emplace_back([&failures, t, folder] { failures[t] = RunOneEasel(t, folder); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& failure : failures) EXPECT_EQ(failure, "");
}

}  // namespace
