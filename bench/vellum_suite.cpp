// Vellum's imaging side of the benchmark suites (bench/run.py; protocol in
// bench/support/suite.h; the Dictionary and script side is bench/script_suite.cpp). The
// imaging operations call the core's entries on the photograph's pixels; the page
// operations go through the Easel's IDispatch as a script host does. `--prepare`
// first writes the files the decoders of every suite read.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/bench_data.h"
#include "bench/support/suite.h"
#include "platform/com/safe_array.h"
#include "platform/kernel/global_memory.h"
#include "vellum/codecs/avif.h"
#include "vellum/codecs/bmp.h"
#include "vellum/codecs/gif.h"
#include "vellum/codecs/jpeg.h"
#include "vellum/codecs/pcx.h"
#include "vellum/codecs/png.h"
#include "vellum/codecs/psd.h"
#include "vellum/codecs/tiff.h"
#include "vellum/codecs/webp.h"
#include "vellum/core/blend.h"
#include "vellum/core/resample.h"
#include "vellum/core/rotate.h"
#include "vellum/core/worker_pool.h"
#include "vellum/easel.h"
#include "vellum/pixelops/default_palette.h"
#include "vellum/pixelops/dithering.h"
#include "vellum/pixelops/filters.h"
#include "vellum/pixelops/octree_quantizer.h"

namespace {

using bench_support::Operation;
using bench_support::RgbImage;
using bench_support::State;
using namespace vellum;

std::vector<uint8_t> ReadBytes(const std::string& name) {
  std::ifstream in(bench_support::DataPath(name), std::ios::binary);
  if (!in) throw std::runtime_error("missing benchmark input " + name);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(bench_support::DataPath(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void Require(bool ok, const char* what) {
  if (!ok)
    throw std::runtime_error(std::string(what) + " failed with code " +
                             std::to_string(CoreLastError()));
}

// ---- inputs ----

struct PhotoState : State {
  RgbImage photo;
  std::vector<uint8_t> out;  // room for any operation's output
  explicit PhotoState(const std::string& name) : photo(bench_support::LoadPpm(name + ".ppm")) {
    out.resize(photo.rgb.size() * 4 + (1 << 20));
  }
};

struct BytesState : State {
  std::vector<uint8_t> bytes;
  explicit BytesState(const std::string& name) : bytes(ReadBytes(name)) {}
};

// Index = the top 3 bits of red, 3 of green and 2 of blue; a palette to match.
struct IndexedState : PhotoState {
  std::vector<uint8_t> indices;
  Palette palette{};
  explicit IndexedState(const std::string& name) : PhotoState(name) {
    indices.resize(size_t{photo.width} * photo.height);
    for (size_t i = 0; i < indices.size(); ++i) {
      const uint8_t* p = &photo.rgb[3 * i];
      indices[i] = static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0xE0) >> 3 | p[2] >> 6);
    }
    for (int i = 0; i < 256; ++i) {
      palette[i] = RGBQUAD{static_cast<BYTE>((i & 0x03) << 6), static_cast<BYTE>((i & 0x1C) << 3),
                           static_cast<BYTE>(i & 0xE0), 255};
    }
  }
};

// ---- codecs over memory handles ----

template <typename Write>
size_t Encode(std::vector<uint8_t>& block, Write write) {
  HISDEST destination = OpenMemoryDestination(block.data(), static_cast<uint32_t>(block.size()));
  const uint32_t size = write(destination);
  CloseDestination(destination);
  Require(size != 0, "encoding");
  return size;
}

template <typename Read>
size_t Decode(const std::vector<uint8_t>& bytes, Read read) {
  HISSRC source = OpenMemorySource(bytes.data(), static_cast<uint32_t>(bytes.size()));
  int32_t width = 0, height = 0;
  HGLOBAL image = read(source, &width, &height);
  CloseSource(source);
  Require(image != nullptr, "decoding");
  GlobalFree(image);
  return 0;
}

using Reader = HGLOBAL (*)(HISSRC, int32_t*, int32_t*);

uint32_t WritePng(HISDEST d, const RgbImage& p, int32_t interlace) {
  return WritePNG(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), int32_t(p.width * 3), 8, 0,
                  nullptr, 2, 0, interlace, {2835, 2835, 1});
}
uint32_t WriteTiff(HISDEST d, const RgbImage& p) {
  return WriteTIFF(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), 24, nullptr, 1,
                   {72, 72, 2});
}
uint32_t WriteBmp(HISDEST d, const RgbImage& p) {
  return WriteBMP(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), 24, 0, nullptr);
}
uint32_t WriteGif(HISDEST d, const IndexedState& s) {
  return WriteGIF(d, s.indices.data(), int32_t(s.photo.width), int32_t(s.photo.height), 0, 0, -1, 8,
                  s.palette.data());
}
uint32_t WritePcx(HISDEST d, const RgbImage& p) {
  return WritePCX(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), 24, nullptr);
}
uint32_t WritePsd(HISDEST d, const RgbImage& p) {
  return WritePSD(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), 24, nullptr);
}

// The qualities of the WebP and AVIF rows: WebP's lossy quality (100 is lossless), and
// the AVIF quality whose quantizer is 25 (63 at quality 0, falling linearly).
constexpr int32_t kWebpQuality = 75;
constexpr int32_t kAvifQuality = 60;

uint32_t WriteWebp(HISDEST d, const RgbImage& p, int32_t quality) {
  return WriteWEBP(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), quality);
}
uint32_t WriteAvif(HISDEST d, const RgbImage& p) {
  return WriteAVIF(d, p.rgb.data(), int32_t(p.width), int32_t(p.height), kAvifQuality);
}

// The files every suite's decoders read, and the default palette as red, green, blue.
void Prepare() {
  for (const std::string photo : {"medium", "large"}) {
    IndexedState state(photo);
    auto keep = [&](const std::string& suffix, auto write) {
      const size_t size = Encode(state.out, write);
      WriteBytes(photo + suffix, {state.out.begin(), state.out.begin() + static_cast<long>(size)});
    };
    keep("-vellum-adam7.png", [&](HISDEST d) { return WritePng(d, state.photo, 1); });
    keep("-vellum.tif", [&](HISDEST d) { return WriteTiff(d, state.photo); });
    keep("-vellum.bmp", [&](HISDEST d) { return WriteBmp(d, state.photo); });
    keep("-vellum.gif", [&](HISDEST d) { return WriteGif(d, state); });
    keep("-vellum.pcx", [&](HISDEST d) { return WritePcx(d, state.photo); });
    keep("-vellum.psd", [&](HISDEST d) { return WritePsd(d, state.photo); });
    keep("-vellum.webp", [&](HISDEST d) { return WriteWebp(d, state.photo, kWebpQuality); });
    keep("-vellum.avif", [&](HISDEST d) { return WriteAvif(d, state.photo); });
  }
  std::vector<uint8_t> palette;
  for (const RGBQUAD& entry : MakeDefaultPalette()) {
    palette.insert(palette.end(), {entry.rgbRed, entry.rgbGreen, entry.rgbBlue});
  }
  WriteBytes("default-palette.bin", palette);
}

template <typename StateType, typename Work>
Operation Op(std::string name, bool threaded, std::string suffix, Work work) {
  return {
      std::move(name), threaded, false,
      [suffix](const std::string& photo) { return std::make_unique<StateType>(photo + suffix); },
      [work](State& state) { return work(static_cast<StateType&>(state)); }};
}

template <typename Work>
Operation OnPhoto(std::string name, bool threaded, Work work) {
  return Op<PhotoState>(std::move(name), threaded, "", work);
}

Operation DecodeOp(std::string name, std::string suffix, Reader read, bool threaded = false) {
  return Op<BytesState>(std::move(name), threaded, std::move(suffix),
                        [read](BytesState& s) { return Decode(s.bytes, read); });
}

HGLOBAL ReadJpeg(HISSRC s, int32_t* w, int32_t* h) { return ReadJPEG(s, w, h, 24); }
HGLOBAL ReadPng(HISSRC s, int32_t* w, int32_t* h) { return ReadPNG(s, w, h, 24); }
HGLOBAL ReadTiff(HISSRC s, int32_t* w, int32_t* h) { return ReadTIFF(s, w, h, 24, 0); }
HGLOBAL ReadBmp(HISSRC s, int32_t* w, int32_t* h) { return ReadBMP(s, w, h, 24); }
HGLOBAL ReadPcx(HISSRC s, int32_t* w, int32_t* h) { return ReadPCX(s, w, h, 24); }
HGLOBAL ReadPsd(HISSRC s, int32_t* w, int32_t* h) { return ReadPSD(s, w, h, 24); }
HGLOBAL ReadGif(HISSRC s, int32_t* w, int32_t* h) {
  int32_t transparent = 0;
  return ReadGIF(s, w, h, &transparent);
}

// ---- pixel operations ----

enum class Resizer { kNearest, kBilinear, kBicubic, kFiltered };

size_t Resize(PhotoState& s, Resizer resizer, double factor, int32_t kind) {
  const RgbImage& in = s.photo;
  const auto w = static_cast<uint32_t>(in.width * factor);
  const auto h = static_cast<uint32_t>(in.height * factor);
  BOOL ok = FALSE;
  switch (resizer) {
    case Resizer::kNearest:
      ok = ResizeNearest(in.rgb.data(), in.width, in.height, 3, s.out.data(), w, h);
      break;
    case Resizer::kBilinear:
      ok = ResizeBilinear(in.rgb.data(), in.width, in.height, s.out.data(), w, h);
      break;
    case Resizer::kBicubic:
      ok = ResizeBicubic(in.rgb.data(), in.width, in.height, s.out.data(), w, h);
      break;
    case Resizer::kFiltered:
      ok = ResizeFiltered(in.rgb.data(), in.width, in.height, s.out.data(), w, h, 3, kind);
      break;
  }
  Require(ok, "resize");
  return 0;
}

struct OverlayState : PhotoState {
  std::vector<uint8_t> mask;
  std::vector<uint8_t> target;
  explicit OverlayState(const std::string& name) : PhotoState(name) {
    mask.resize(size_t{photo.width} * photo.height);
    for (size_t p = 0; p < mask.size(); ++p) {
      const uint8_t* px = &photo.rgb[p * 3];
      mask[p] = static_cast<uint8_t>((299 * px[0] + 587 * px[1] + 114 * px[2]) / 1000);
    }
    target.assign(photo.rgb.rbegin(), photo.rgb.rend());
  }
};

// ---- through IDispatch ----

HRESULT Call(IDispatch* object, const char16_t* name, WORD flags, std::vector<Variant>& arguments,
             VARIANT* result) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPID put = DISPID_PROPERTYPUT;
  const bool isPut = flags == DISPATCH_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()),
                    isPut ? 1u : 0u};
  return object->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

struct EaselState : State {
  ComPtr<IDispatch> easel;
  std::vector<Variant> load;
  explicit EaselState(const std::string& jpeg) {
    if (FAILED(CreateComObject<vellum::Easel>(nullptr, IID_IDispatch, easel.ReceiveVoid()))) {
      throw std::runtime_error("no Easel");
    }
    const std::vector<uint8_t> bytes = ReadBytes(jpeg);
    Variant array;
    array.parray = MakeByteVector(bytes.data(), static_cast<ULONG>(bytes.size()));
    array.vt = VT_ARRAY | VT_UI1;
    load.push_back(std::move(array));
  }
};

// LoadImage from a byte array, SaveImage as JPEG (quality 70) to a byte array.
size_t LoadAndSave(EaselState& s) {
  std::vector<Variant> save;
  save.push_back(Variant::Long(1));  // memory
  save.push_back(Variant::Long(3));  // JPEG
  save.push_back(Variant());
  Variant saved;
  if (FAILED(Call(s.easel.Get(), u"LoadImage", DISPATCH_METHOD, s.load, nullptr)) ||
      FAILED(Call(s.easel.Get(), u"SaveImage", DISPATCH_METHOD, save, &saved))) {
    throw std::runtime_error("load or save failed");
  }
  return SafeArrayElementCount(saved.parray);
}

// A 150-pixel-high thumbnail of the photograph's file, by LoadThumbnail or by
// LoadImage and CreateThumbnail, through IDispatch in a fresh process (for its peak
// memory).
struct ThumbnailState : State {
  ComPtr<IDispatch> easel;
  std::u16string path;
  explicit ThumbnailState(const std::string& jpeg) {
    if (FAILED(CreateComObject<vellum::Easel>(nullptr, IID_IDispatch, easel.ReceiveVoid()))) {
      throw std::runtime_error("no Easel");
    }
    const std::string name = bench_support::DataPath(jpeg);
    path.assign(name.begin(), name.end());
  }
  size_t Run(bool reduced) {
    std::vector<Variant> image;
    image.push_back(Variant::String(path));
    std::vector<Variant> none;
    const HRESULT hr = reduced
                           ? Call(easel.Get(), u"LoadThumbnail", DISPATCH_METHOD, image, nullptr)
                       : FAILED(Call(easel.Get(), u"LoadImage", DISPATCH_METHOD, image, nullptr))
                           ? E_FAIL
                           : Call(easel.Get(), u"CreateThumbnail", DISPATCH_METHOD, none, nullptr);
    if (FAILED(hr)) throw std::runtime_error("thumbnail failed");
    return 0;
  }
};

Operation ThumbnailOp(std::string name, bool reduced) {
  return {std::move(name), false, true,
          [](const std::string& photo) { return std::make_unique<ThumbnailState>(photo + ".jpg"); },
          [reduced](State& state) { return static_cast<ThumbnailState&>(state).Run(reduced); }};
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  ops.push_back(DecodeOp("jpeg.decode", ".jpg", ReadJpeg));
  for (const bool progressive : {false, true}) {
    ops.push_back(OnPhoto(progressive ? "jpeg.encode.q70.progressive" : "jpeg.encode.q70", false,
                          [progressive](PhotoState& s) {
                            return Encode(s.out, [&](HISDEST d) {
                              return WriteJPEG(d, s.photo.rgb.data(), int32_t(s.photo.width),
                                               int32_t(s.photo.height), 70, progressive, 24,
                                               {1, 1, 0});
                            });
                          }));
  }
  for (const int interlace : {0, 1}) {
    ops.push_back(
        OnPhoto(interlace ? "png.encode.adam7" : "png.encode", false, [interlace](PhotoState& s) {
          return Encode(s.out, [&](HISDEST d) { return WritePng(d, s.photo, interlace); });
        }));
  }
  ops.back().note = "Pillow writes no Adam7 PNG; libvips does when it is built in";
  ops.push_back(DecodeOp("png.decode.adam7", "-vellum-adam7.png", ReadPng));
  ops.push_back(DecodeOp("tiff.decode", "-vellum.tif", ReadTiff));
  ops.push_back(OnPhoto("tiff.encode", false, [](PhotoState& s) {
    return Encode(s.out, [&](HISDEST d) { return WriteTiff(d, s.photo); });
  }));
  ops.push_back(DecodeOp("bmp.decode", "-vellum.bmp", ReadBmp));
  ops.push_back(OnPhoto("bmp.encode", false, [](PhotoState& s) {
    return Encode(s.out, [&](HISDEST d) { return WriteBmp(d, s.photo); });
  }));
  ops.push_back(DecodeOp("gif.decode", "-vellum.gif", ReadGif));
  ops.push_back(Op<IndexedState>("gif.encode", false, "", [](IndexedState& s) {
    return Encode(s.out, [&](HISDEST d) { return WriteGif(d, s); });
  }));
  ops.push_back(DecodeOp("pcx.decode", "-vellum.pcx", ReadPcx));
  ops.push_back(OnPhoto("pcx.encode", false, [](PhotoState& s) {
    return Encode(s.out, [&](HISDEST d) { return WritePcx(d, s.photo); });
  }));
  ops.push_back(DecodeOp("psd.decode", "-vellum.psd", ReadPsd));
  ops.push_back(OnPhoto("psd.encode", false, [](PhotoState& s) {
    return Encode(s.out, [&](HISDEST d) { return WritePsd(d, s.photo); });
  }));
  ops.back().note = "neither Pillow nor libvips writes the layered format";
  for (const auto& [name, quality] :
       {std::pair{"webp.encode.q75", kWebpQuality}, std::pair{"webp.encode.lossless", 100}}) {
    const int32_t q = quality;
    ops.push_back(OnPhoto(name, false, [q](PhotoState& s) {
      return Encode(s.out, [&](HISDEST d) { return WriteWebp(d, s.photo, q); });
    }));
  }
  ops.push_back(DecodeOp("webp.decode", "-vellum.webp", ReadWEBP));
  const std::string avifPeers = "Debian's Pillow has no AVIF; libvips compares when it is built in";
  // The AV1 encoder and decoder run on the imaging core's threads.
  ops.push_back(OnPhoto("avif.encode.q60", true, [](PhotoState& s) {
    return Encode(s.out, [&](HISDEST d) { return WriteAvif(d, s.photo); });
  }));
  ops.back().note = avifPeers;
  ops.push_back(DecodeOp("avif.decode", "-vellum.avif", ReadAVIF, true));
  ops.back().note = avifPeers;
  for (const auto& [direction, factor] : {std::pair{"down", 0.5}, std::pair{"up", 2.0}}) {
    const std::string suffix = direction;
    const double f = factor;
    ops.push_back(OnPhoto("resize.nearest." + suffix, false,
                          [f](PhotoState& s) { return Resize(s, Resizer::kNearest, f, 0); }));
    ops.push_back(OnPhoto("resize.bilinear." + suffix, false,
                          [f](PhotoState& s) { return Resize(s, Resizer::kBilinear, f, 0); }));
    ops.push_back(OnPhoto("resize.bicubic." + suffix, false,
                          [f](PhotoState& s) { return Resize(s, Resizer::kBicubic, f, 0); }));
    ops.push_back(OnPhoto("resize.lanczos3." + suffix, true,
                          [f](PhotoState& s) { return Resize(s, Resizer::kFiltered, f, 8); }));
  }
  ops.push_back(OnPhoto("resize.catmullrom.down", true,
                        [](PhotoState& s) { return Resize(s, Resizer::kFiltered, 0.5, 13); }));
  ops.push_back(OnPhoto("rotate.45", true, [](PhotoState& s) {
    uint32_t w = 0, h = 0;
    HGLOBAL block = RotateByAngle(s.photo.rgb.data(), s.photo.width, s.photo.height,
                                  45 * M_PI / 180, 0, &w, &h);
    Require(block != nullptr, "rotation");
    GlobalFree(block);
    return size_t{0};
  }));
  for (const auto& [name, kind] :
       {std::pair{"sharpen.3x3", kSharpen}, std::pair{"blur.3x3", kBlur}}) {
    const NeighbourhoodKind k = kind;
    ops.push_back(OnPhoto(name, true, [k](PhotoState& s) {
      Require(FilterNeighbourhood(s.photo.rgb.data(), s.out.data(), s.photo.width, s.photo.height,
                                  50, k),
              "filter");
      return size_t{0};
    }));
  }
  ops.push_back(OnPhoto("brightness", false, [](PhotoState& s) {
    Require(AdjustGamma(s.photo.rgb.data(), s.photo.width, s.photo.height, 1.5), "brightness");
    return size_t{0};
  }));
  ops.push_back(Op<OverlayState>("overlay.mask", false, "", [](OverlayState& s) {
    Require(OverlayWithMask(s.target.data(), s.photo.width, s.photo.height, s.photo.rgb.data(),
                            s.photo.width, s.photo.height, s.mask.data(), 0, 0),
            "overlay");
    return size_t{0};
  }));
  ops.push_back(OnPhoto("quantize.octree.dither", false, [](PhotoState& s) {
    RGBQUAD palette[256];
    Require(QuantizeOctree(s.photo.rgb.data(), s.photo.width, s.photo.height, s.out.data(), 256,
                           palette),
            "quantization");
    return size_t{0};
  }));
  ops.push_back(OnPhoto("dither.palette", false, [](PhotoState& s) {
    static const Palette palette = MakeDefaultPalette();
    Require(MapPaletteDithered(s.photo.rgb.data(), s.photo.width, s.photo.height, s.out.data(),
                               palette.data(), 256),
            "dithering");
    return size_t{0};
  }));
  ops.push_back(Op<EaselState>("page.load-save-jpeg", false, ".jpg", LoadAndSave));
  ops.push_back(ThumbnailOp("thumbnail.jpeg", true));
  ops.push_back(ThumbnailOp("thumbnail.jpeg.whole-decode", false));
  ops.back().note = "LoadImage and CreateThumbnail, for comparison with LoadThumbnail";
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--prepare") {
    Prepare();
    return 0;
  }
  return bench_support::ServeSuite(argc, argv, Operations(),
                                   [](int threads) { SetParallelThreads(size_t(threads)); });
}
