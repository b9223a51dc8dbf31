// libvips's side of the benchmark suites (bench/run.py; protocol in bench/support/suite.h),
// through its C interface. Every operation ends by writing its result into one block of
// memory, as Vellum's operations do, so that libvips's lazy pipelines do the whole work;
// the operation cache is off. Thread counts go to vips_concurrency_set.
#include <vips/vips.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/bench_data.h"
#include "bench/support/suite.h"

namespace {

using bench_support::Operation;
using bench_support::State;

// Unreferences a libvips object when it goes.
template <typename T>
struct Ref {
  T* object = nullptr;
  ~Ref() {
    if (object != nullptr) g_object_unref(object);
  }
  T** operator&() { return &object; }
  T* get() const { return object; }
};

void Check(int status, const char* what) {
  if (status != 0) {
    const std::string text = std::string(what) + ": " + vips_error_buffer();
    vips_error_clear();
    throw std::runtime_error(text);
  }
}

// Makes the image's pixels and drops them.
size_t Materialize(VipsImage* image) {
  size_t size = 0;
  void* pixels = vips_image_write_to_memory(image, &size);
  if (pixels == nullptr) Check(-1, "write to memory");
  g_free(pixels);
  return 0;
}

struct PhotoState : State {
  bench_support::RgbImage rgb;
  Ref<VipsImage> image;
  explicit PhotoState(const std::string& photo) : rgb(bench_support::LoadPpm(photo + ".ppm")) {
    image.object =
        vips_image_new_from_memory(rgb.rgb.data(), rgb.rgb.size(), static_cast<int>(rgb.width),
                                   static_cast<int>(rgb.height), 3, VIPS_FORMAT_UCHAR);
    if (image.object == nullptr) Check(-1, "image from memory");
  }
};

// An image held in memory, made from a pipeline once.
struct MemoryImage {
  std::vector<unsigned char> pixels;
  Ref<VipsImage> image;
  explicit MemoryImage(VipsImage* made) {
    size_t size = 0;
    void* data = vips_image_write_to_memory(made, &size);
    if (data == nullptr) Check(-1, "write to memory");
    pixels.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
    g_free(data);
    image.object = vips_image_new_from_memory(pixels.data(), pixels.size(), made->Xsize,
                                              made->Ysize, made->Bands, made->BandFmt);
    if (image.object == nullptr) Check(-1, "image from memory");
  }
  VipsImage* get() const { return image.get(); }
};

// The photograph over a turned copy of itself through its own luminance, both made
// beforehand, as Vellum's overlay is given them.
struct OverlayState : PhotoState {
  std::unique_ptr<MemoryImage> mask;
  std::unique_ptr<MemoryImage> turned;
  explicit OverlayState(const std::string& photo) : PhotoState(photo) {
    Ref<VipsImage> luminance, rotated;
    Check(vips_colourspace(image.get(), &luminance, VIPS_INTERPRETATION_B_W, nullptr), "mask");
    Check(vips_rot(image.get(), &rotated, VIPS_ANGLE_D180, nullptr), "turn");
    mask = std::make_unique<MemoryImage>(luminance.get());
    turned = std::make_unique<MemoryImage>(rotated.get());
  }
};

struct BytesState : State {
  std::vector<char> bytes;
  explicit BytesState(const std::string& name) {
    std::ifstream in(bench_support::DataPath(name), std::ios::binary);
    if (!in) throw std::runtime_error("missing benchmark input " + name);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
};

struct NameState : State {
  std::string path;
  explicit NameState(const std::string& name) : path(bench_support::DataPath(name)) {}
};

// `threaded`: libvips's concurrency changes how the operation runs.
template <typename Work>
Operation OnPhoto(std::string name, Work work, bool threaded = true) {
  return {std::move(name), threaded, false,
          [](const std::string& photo) { return std::make_unique<PhotoState>(photo); },
          [work](State& state) { return work(static_cast<PhotoState&>(state).image.get()); }};
}

using Loader = int (*)(void*, size_t, VipsImage**, ...);

Operation Decode(std::string name, std::string suffix, Loader load, bool threaded = true) {
  return {
      std::move(name), threaded, false,
      [suffix](const std::string& photo) { return std::make_unique<BytesState>(photo + suffix); },
      [load](State& state) {
        auto& bytes = static_cast<BytesState&>(state).bytes;
        Ref<VipsImage> image;
        Check(load(bytes.data(), bytes.size(), &image, nullptr), "load");
        return Materialize(image.get());
      }};
}

template <typename Save>
size_t Saved(Save save) {
  void* buffer = nullptr;
  size_t length = 0;
  Check(save(&buffer, &length), "save");
  g_free(buffer);
  return length;
}

// The image scaled by `factor` through `interpolate` at each output point (no widening
// of the filter when shrinking), as Vellum's bilinear and bicubic resizes sample.
size_t PointSampled(VipsImage* in, double factor, VipsInterpolate* interpolate) {
  Ref<VipsImage> out;
  Check(vips_affine(in, &out, factor, 0.0, 0.0, factor, "interpolate", interpolate, nullptr),
        "affine");
  return Materialize(out.get());
}

size_t Resized(VipsImage* in, double factor, VipsKernel kernel) {
  Ref<VipsImage> out;
  Check(vips_resize(in, &out, factor, "kernel", kernel, nullptr), "resize");
  return Materialize(out.get());
}

// A 3 x 3 integer mask: `centre` in the middle, `neighbour` around it, divided by `scale`.
size_t Convolved(VipsImage* in, double centre, double neighbour, double scale) {
  Ref<VipsImage> mask;
  mask.object = vips_image_new_matrixv(3, 3, neighbour, neighbour, neighbour, neighbour, centre,
                                       neighbour, neighbour, neighbour, neighbour);
  vips_image_set_double(mask.get(), "scale", scale);
  Ref<VipsImage> out;
  Check(vips_conv(in, &out, mask.get(), "precision", VIPS_PRECISION_INTEGER, nullptr), "conv");
  return Materialize(out.get());
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  ops.push_back(Decode("jpeg.decode", ".jpg", vips_jpegload_buffer));
  for (const bool progressive : {false, true}) {
    ops.push_back(OnPhoto(progressive ? "jpeg.encode.q70.progressive" : "jpeg.encode.q70",
                          [progressive](VipsImage* in) {
                            return Saved([&](void** buffer, size_t* length) {
                              return vips_jpegsave_buffer(in, buffer, length, "Q", 70, "interlace",
                                                          progressive, nullptr);
                            });
                          }));
  }
  for (const bool interlace : {false, true}) {
    ops.push_back(
        OnPhoto(interlace ? "png.encode.adam7" : "png.encode", [interlace](VipsImage* in) {
          return Saved([&](void** buffer, size_t* length) {
            return vips_pngsave_buffer(in, buffer, length, "interlace", interlace, nullptr);
          });
        }));
  }
  ops.push_back(Decode("png.decode.adam7", "-vellum-adam7.png", vips_pngload_buffer));
  ops.push_back(Decode("tiff.decode", "-vellum.tif", vips_tiffload_buffer));
  ops.push_back(OnPhoto("tiff.encode", [](VipsImage* in) {
    return Saved([&](void** buffer, size_t* length) {
      return vips_tiffsave_buffer(in, buffer, length, nullptr);
    });
  }));
  // libwebp encodes and decodes on the calling thread whatever libvips's concurrency.
  for (const bool lossless : {false, true}) {
    ops.push_back(OnPhoto(
        lossless ? "webp.encode.lossless" : "webp.encode.q75",
        [lossless](VipsImage* in) {
          return Saved([&](void** buffer, size_t* length) {
            return vips_webpsave_buffer(in, buffer, length, "Q", 75, "effort", 4, "strip", TRUE,
                                        "lossless", lossless, nullptr);
          });
        },
        false));
    ops.back().note =
        "libvips 8.14 writes the same image data behind a VP8X header and an EXIF chunk "
        "(212 bytes) even when told to strip metadata";
  }
  ops.push_back(Decode("webp.decode", "-vellum.webp", vips_webpload_buffer, false));
  // AVIF through libheif, which encodes with aom and decodes with dav1d as libavif does
  // for Vellum. Quality 60 is aom's quality level 25, the quantizer Vellum fixes, and
  // effort 3 is aom's speed 6.
  ops.push_back(OnPhoto(
      "avif.encode.q60",
      [](VipsImage* in) {
        return Saved([&](void** buffer, size_t* length) {
          return vips_heifsave_buffer(
              in, buffer, length, "compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1, "encoder",
              VIPS_FOREIGN_HEIF_ENCODER_AOM, "Q", 60, "bitdepth", 8, "effort", 3, "subsample_mode",
              VIPS_FOREIGN_SUBSAMPLE_ON, "strip", TRUE, nullptr);
        });
      },
      false));
  ops.back().note =
      "libvips hands libheif a quality, aom's quality level 25 with the quantizer free in "
      "0-63, where Vellum fixes the quantizer at 25; and no thread count, so aom runs "
      "libheif's 4 threads in every row; Vellum uses the row's";
  ops.back().ownThreads = true;
  ops.push_back(Decode("avif.decode", "-vellum.avif", vips_heifload_buffer));
  ops.back().note =
      "dav1d under libheif picks its own thread count in every row; Vellum uses the row's";
  ops.back().ownThreads = true;
  for (const auto& [direction, factor] : {std::pair{"down", 0.5}, std::pair{"up", 2.0}}) {
    const std::string suffix = direction;
    const double f = factor;
    ops.push_back(OnPhoto("resize.nearest." + suffix,
                          [f](VipsImage* in) { return Resized(in, f, VIPS_KERNEL_NEAREST); }));
    ops.push_back(OnPhoto("resize.bilinear." + suffix, [f](VipsImage* in) {
      return PointSampled(in, f, vips_interpolate_bilinear_static());
    }));
    ops.push_back(OnPhoto("resize.bicubic." + suffix, [f](VipsImage* in) {
      Ref<VipsInterpolate> bicubic;
      bicubic.object = vips_interpolate_new("bicubic");
      return PointSampled(in, f, bicubic.get());
    }));
    ops.push_back(OnPhoto("resize.lanczos3." + suffix,
                          [f](VipsImage* in) { return Resized(in, f, VIPS_KERNEL_LANCZOS3); }));
  }
  ops.push_back(OnPhoto("resize.catmullrom.down",
                        [](VipsImage* in) { return Resized(in, 0.5, VIPS_KERNEL_CUBIC); }));
  ops.push_back(OnPhoto("rotate.45", [](VipsImage* in) {
    Ref<VipsImage> out;
    Check(vips_rotate(in, &out, 45.0, "interpolate", vips_interpolate_nearest_static(), nullptr),
          "rotate");
    return Materialize(out.get());
  }));
  // Level 50: sharpen 3c - 0.25 S, blur (8c + S) / 16.
  ops.push_back(OnPhoto("sharpen.3x3", [](VipsImage* in) { return Convolved(in, 12, -1, 4); }));
  ops.push_back(OnPhoto("blur.3x3", [](VipsImage* in) { return Convolved(in, 8, 1, 16); }));
  ops.push_back(OnPhoto("brightness", [](VipsImage* in) {
    std::vector<unsigned char> curve(256);
    for (int v = 0; v < 256; ++v) {
      curve[v] = static_cast<unsigned char>(std::min(255.0, 256 * std::pow(v / 256.0, 1 / 1.5)));
    }
    Ref<VipsImage> lut;
    lut.object =
        vips_image_new_from_memory(curve.data(), curve.size(), 256, 1, 1, VIPS_FORMAT_UCHAR);
    Ref<VipsImage> out;
    Check(vips_maplut(in, &out, lut.get(), nullptr), "maplut");
    return Materialize(out.get());
  }));
  ops.push_back({"overlay.mask", true, false,
                 [](const std::string& photo) { return std::make_unique<OverlayState>(photo); },
                 [](State& state) {
                   auto& s = static_cast<OverlayState&>(state);
                   Ref<VipsImage> out;
                   Check(vips_ifthenelse(s.mask->get(), s.image.get(), s.turned->get(), &out,
                                         "blend", TRUE, nullptr),
                         "blend");
                   return Materialize(out.get());
                 }});
  ops.push_back(
      {"thumbnail.jpeg", true, true,
       [](const std::string& photo) { return std::make_unique<NameState>(photo + ".jpg"); },
       [](State& state) {
         Ref<VipsImage> out;
         Check(vips_thumbnail(static_cast<NameState&>(state).path.c_str(), &out, 100000, "height",
                              150, nullptr),
               "thumbnail");
         return Materialize(out.get());
       }});
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) {
    std::fprintf(stderr, "libvips would not start\n");
    return 1;
  }
  vips_cache_set_max(0);
  // Every AVIF load warns that libvips ignores the file's colour description (nclx).
  g_log_set_handler(
      "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
      nullptr);
  const int result = bench_support::ServeSuite(argc, argv, Operations(),
                                               [](int threads) { vips_concurrency_set(threads); });
  vips_shutdown();
  return result;
}
