// JPEG, PNG and TIFF on the 1920x1200 photograph: our entries over memory handles,
// and beside each the same work done by calling the library directly (BM_Library*),
// so that the cost of the glue itself shows. bench/jpeg_png_tiff_pillow.py measures
// Pillow on the same inputs in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/bench_data.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/png.h"
#include "vellum/codecs/tiff.h"

// After the project's headers: jpeglib.h defines TRUE and FALSE as macros.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {

using namespace vellum;
using bench_support::RgbImage;

using bench_support::Photo;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("missing benchmark input " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<uint8_t>& PhotoJpeg() {
  static const std::vector<uint8_t> bytes = ReadFile(bench_support::DataPath("medium.jpg"));
  return bytes;
}

// A destination block large enough for any encoding of the photograph.
std::vector<uint8_t>& DestinationBlock() {
  static std::vector<uint8_t> block(Photo().rgb.size() * 2 + (1 << 20));
  return block;
}

template <typename Writer>
std::vector<uint8_t> EncodeToMemory(Writer write) {
  std::vector<uint8_t>& block = DestinationBlock();
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  const uint32_t size = write(destination);
  CloseDestination(destination);
  if (size == 0)
    throw std::runtime_error("encoding failed with code " + std::to_string(CoreLastError()));
  return {block.begin(), block.begin() + size};
}

template <typename Reader>
void DecodeFromMemory(const std::vector<uint8_t>& bytes, Reader read) {
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  int32_t width = 0;
  int32_t height = 0;
  HGLOBAL image = read(source, &width, &height);
  CloseSource(source);
  if (image == nullptr)
    throw std::runtime_error("decoding failed with code " + std::to_string(CoreLastError()));
  benchmark::DoNotOptimize(image);
  GlobalFree(image);
}

uint32_t WritePhotoPng(HISDEST destination, int32_t interlace) {
  const RgbImage& photo = Photo();
  return WritePNG(destination, photo.rgb.data(), int32_t(photo.width), int32_t(photo.height),
                  int32_t(photo.width * 3), 8, 0, nullptr, PNG_COLOR_TYPE_RGB, 0, interlace,
                  {2835, 2835, 1});
}

uint32_t WritePhotoTiff(HISDEST destination) {
  const RgbImage& photo = Photo();
  return WriteTIFF(destination, photo.rgb.data(), int32_t(photo.width), int32_t(photo.height), 24,
                   nullptr, 1, {72, 72, 2});
}

// The files the decode benchmarks read, written once by our encoders and kept
// beside the photograph for the reference script.
const std::vector<uint8_t>& PhotoFile(const std::string& name) {
  static const std::vector<uint8_t> png =
      EncodeToMemory([](HISDEST destination) { return WritePhotoPng(destination, 0); });
  static const std::vector<uint8_t> tiff = EncodeToMemory(WritePhotoTiff);
  const std::vector<uint8_t>& bytes = name == "png" ? png : tiff;
  std::ofstream(bench_support::DataPath("medium-vellum." + name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

// ---- our entries ----

void BM_JpegDecode(benchmark::State& state) {
  for (auto _ : state) {
    DecodeFromMemory(PhotoJpeg(),
                     [](HISSRC s, int32_t* w, int32_t* h) { return ReadJPEG(s, w, h, 24); });
  }
}
BENCHMARK(BM_JpegDecode)->Unit(benchmark::kMillisecond);

void BM_JpegEncode(benchmark::State& state, bool progressive) {
  const RgbImage& photo = Photo();
  for (auto _ : state) {
    EncodeToMemory([&](HISDEST destination) {
      return WriteJPEG(destination, photo.rgb.data(), int32_t(photo.width), int32_t(photo.height),
                       70, progressive, 24, {1, 1, 0});
    });
  }
}
BENCHMARK_CAPTURE(BM_JpegEncode, Baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_JpegEncode, Progressive, true)->Unit(benchmark::kMillisecond);

void BM_PngEncode(benchmark::State& state, int32_t interlace) {
  for (auto _ : state) {
    EncodeToMemory([&](HISDEST destination) { return WritePhotoPng(destination, interlace); });
  }
}
BENCHMARK_CAPTURE(BM_PngEncode, Plain, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PngEncode, Adam7, 1)->Unit(benchmark::kMillisecond);

void BM_PngDecode(benchmark::State& state) {
  const std::vector<uint8_t>& png = PhotoFile("png");
  for (auto _ : state) {
    DecodeFromMemory(png, [](HISSRC s, int32_t* w, int32_t* h) { return ReadPNG(s, w, h, 24); });
  }
}
BENCHMARK(BM_PngDecode)->Unit(benchmark::kMillisecond);

void BM_TiffEncode(benchmark::State& state) {
  for (auto _ : state) EncodeToMemory(WritePhotoTiff);
}
BENCHMARK(BM_TiffEncode)->Unit(benchmark::kMillisecond);

void BM_TiffDecode(benchmark::State& state) {
  const std::vector<uint8_t>& tiff = PhotoFile("tif");
  for (auto _ : state) {
    DecodeFromMemory(tiff,
                     [](HISSRC s, int32_t* w, int32_t* h) { return ReadTIFF(s, w, h, 24, 0); });
  }
}
BENCHMARK(BM_TiffDecode)->Unit(benchmark::kMillisecond);

// ---- the libraries called directly, on the same bytes ----

void BM_LibraryJpegDecode(benchmark::State& state) {
  const std::vector<uint8_t>& jpeg = PhotoJpeg();
  for (auto _ : state) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<uint8_t> rgb(size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = rgb.data() + size_t{info.output_scanline} * info.output_width * 3;
      jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    benchmark::DoNotOptimize(rgb.data());
  }
}
BENCHMARK(BM_LibraryJpegDecode)->Unit(benchmark::kMillisecond);

void BM_LibraryJpegEncode(benchmark::State& state, bool progressive) {
  const RgbImage& photo = Photo();
  for (auto _ : state) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = photo.width;
    info.image_height = photo.height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 70, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
      JSAMPROW row =
          const_cast<JSAMPROW>(photo.rgb.data() + size_t{info.next_scanline} * photo.width * 3);
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::free(out);
  }
}
BENCHMARK_CAPTURE(BM_LibraryJpegEncode, Baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LibraryJpegEncode, Progressive, true)->Unit(benchmark::kMillisecond);

struct MemoryStream {
  const uint8_t* data;
  size_t size;
  size_t at;
};

void LibraryPngRead(png_structp png, png_bytep out, size_t length) {
  auto* stream = static_cast<MemoryStream*>(png_get_io_ptr(png));
  if (stream->size - stream->at < length) png_error(png, "short");
  std::memcpy(out, stream->data + stream->at, length);
  stream->at += length;
}

void BM_LibraryPngDecode(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = PhotoFile("png");
  for (auto _ : state) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    MemoryStream stream{bytes.data(), bytes.size(), 0};
    png_set_read_fn(png, &stream, LibraryPngRead);
    png_read_info(png, info);
    png_read_update_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    std::vector<uint8_t> rgb(stride * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = rgb.data() + y * stride;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(rgb.data());
  }
}
BENCHMARK(BM_LibraryPngDecode)->Unit(benchmark::kMillisecond);

void LibraryPngWrite(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void LibraryPngFlush(png_structp) {}

void BM_LibraryPngEncode(benchmark::State& state) {
  const RgbImage& photo = Photo();
  std::vector<png_bytep> rows(photo.height);
  for (uint32_t y = 0; y < photo.height; ++y) {
    rows[y] = const_cast<png_bytep>(photo.rgb.data() + size_t{y} * photo.width * 3);
  }
  std::vector<uint8_t> out;
  out.reserve(DestinationBlock().size());
  for (auto _ : state) {
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, LibraryPngWrite, LibraryPngFlush);
    png_set_IHDR(png, info, photo.width, photo.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
  }
}
BENCHMARK(BM_LibraryPngEncode)->Unit(benchmark::kMillisecond);

// libtiff over a file in the benchmark folder, which it maps for reading.
void BM_LibraryTiffDecode(benchmark::State& state) {
  PhotoFile("tif");
  const std::string path = bench_support::DataPath("medium-vellum.tif");
  for (auto _ : state) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint32_t> rgba(size_t{width} * height);
    TIFFReadRGBAImageOriented(tiff, width, height, rgba.data(), ORIENTATION_TOPLEFT, 1);
    TIFFClose(tiff);
    benchmark::DoNotOptimize(rgba.data());
  }
}
BENCHMARK(BM_LibraryTiffDecode)->Unit(benchmark::kMillisecond);

}  // namespace
