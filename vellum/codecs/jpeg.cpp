#include "vellum/codecs/jpeg.h"

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <vector>

#include "platform/kernel/debug_output.h"
#include "vellum/codecs/entry_checks.h"
#include "vellum/codecs/jump_guard.h"
#include "vellum/core/conversions.h"
#include "vellum/core/image_buffer.h"

namespace vellum {

namespace {

constexpr size_t kIoBufferBytes = 4096;

// A progressive file may repeat scans without end, and every scan walks the whole
// image; no real encoder writes anywhere near this many.
constexpr int kMaxScans = 500;

// ---- error manager: libjpeg's standard one, fatal errors jump back ----

struct ErrorManager {
  jpeg_error_mgr standard;  // first, so libjpeg's pointer to it is ours too
  std::jmp_buf jump;
  void (*standardEmit)(j_common_ptr, int) = nullptr;
  // Set when the compressed data ran out (or into a marker) before a single row of
  // the image could be decoded from it.
  bool endedBeforeARow = false;
};

void SendMessageToDebugger(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  info->err->format_message(info, text);
  OutputDebugStringA(text);
  OutputDebugStringA("\n");
}

[[noreturn]] void JumpBack(j_common_ptr info) {
  info->err->output_message(info);
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// The first scan has not delivered a single row of blocks yet: neither a later scan
// has begun nor a row of the first one been completed.
bool NoRowDecoded(j_decompress_ptr info) {
  return info->input_scan_number <= 1 && info->input_iMCU_row == 0;
}

// Notes where the data ended (warnings of data running out or into a marker),
// then passes the message on to libjpeg's own handling.
void EmitMessage(j_common_ptr info, int level) {
  auto* error = reinterpret_cast<ErrorManager*>(info->err);
  const int code = info->err->msg_code;
  if (level < 0 && info->is_decompressor && (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF) &&
      NoRowDecoded(reinterpret_cast<j_decompress_ptr>(info))) {
    error->endedBeforeARow = true;
  }
  error->standardEmit(info, level);
}

jpeg_error_mgr* InstallErrorManager(ErrorManager& error) {
  jpeg_std_error(&error.standard);
  error.standard.error_exit = JumpBack;
  error.standard.output_message = SendMessageToDebugger;
  error.standardEmit = error.standard.emit_message;
  error.standard.emit_message = EmitMessage;
  return &error.standard;
}

// ---- source manager over an HISSRC ----

struct SourceManager {
  jpeg_source_mgr pub;  // first, so that libjpeg's pointer to it is ours too
  DataHandle* handle;
  bool startOfFile;
  JOCTET buffer[kIoBufferBytes];
};

SourceManager& SourceOf(j_decompress_ptr info) {
  return *reinterpret_cast<SourceManager*>(info->src);
}

void InitSource(j_decompress_ptr info) { SourceOf(info).startOfFile = true; }

// An empty source is fatal; a source that ends early gets an end-of-image marker,
// so that libjpeg completes the image from what it has.
boolean FillInputBuffer(j_decompress_ptr info) {
  SourceManager& source = SourceOf(info);
  size_t count = ReadBytes(source.handle, source.buffer, kIoBufferBytes);
  if (count == 0) {
    if (source.startOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
    WARNMS(info, JWRN_JPEG_EOF);
    source.buffer[0] = 0xFF;
    source.buffer[1] = JPEG_EOI;
    count = 2;
  }
  source.pub.next_input_byte = source.buffer;
  source.pub.bytes_in_buffer = count;
  source.startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  jpeg_source_mgr& source = *info->src;
  while (static_cast<size_t>(count) > source.bytes_in_buffer) {
    count -= static_cast<long>(source.bytes_in_buffer);
    FillInputBuffer(info);
  }
  source.next_input_byte += count;
  source.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

jpeg_source_mgr* InstallSourceManager(SourceManager& source, DataHandle* handle) {
  source.handle = handle;
  source.pub.init_source = InitSource;
  source.pub.fill_input_buffer = FillInputBuffer;
  source.pub.skip_input_data = SkipInputData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = TermSource;
  source.pub.bytes_in_buffer = 0;
  source.pub.next_input_byte = nullptr;
  return &source.pub;
}

// ---- destination manager over an HISDEST ----

struct DestinationManager {
  jpeg_destination_mgr pub;  // first, as above
  DataHandle* handle;
  JOCTET buffer[kIoBufferBytes];
};

DestinationManager& DestinationOf(j_compress_ptr info) {
  return *reinterpret_cast<DestinationManager*>(info->dest);
}

void InitDestination(j_compress_ptr info) {
  DestinationManager& destination = DestinationOf(info);
  destination.pub.next_output_byte = destination.buffer;
  destination.pub.free_in_buffer = kIoBufferBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  DestinationManager& destination = DestinationOf(info);
  if (!WriteBytes(destination.handle, destination.buffer, kIoBufferBytes)) {
    ERREXIT(info, JERR_FILE_WRITE);
  }
  InitDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  DestinationManager& destination = DestinationOf(info);
  const size_t count = kIoBufferBytes - destination.pub.free_in_buffer;
  if (count > 0 && !WriteBytes(destination.handle, destination.buffer, count)) {
    ERREXIT(info, JERR_FILE_WRITE);
  }
}

jpeg_destination_mgr* InstallDestinationManager(DestinationManager& destination,
                                                DataHandle* handle) {
  destination.handle = handle;
  destination.pub.init_destination = InitDestination;
  destination.pub.empty_output_buffer = EmptyOutputBuffer;
  destination.pub.term_destination = TermDestination;
  return &destination.pub;
}

// ---- decoding ----

void LimitScans(j_common_ptr info) {
  const int scan = reinterpret_cast<j_decompress_ptr>(info)->input_scan_number;
  if (scan > kMaxScans) ERREXIT1(info, JERR_BAD_SCAN_SCRIPT, scan);
}

// A libjpeg object with its error manager. The object is destroyed with the
// session, whatever state a fatal error left it in; steps that may raise one run
// through Run.
template <typename Object>
struct JpegSession {
  Object info{};
  ErrorManager error{};

  JpegSession() { info.err = InstallErrorManager(error); }
  ~JpegSession() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&info)); }
  JpegSession(const JpegSession&) = delete;
  JpegSession& operator=(const JpegSession&) = delete;

  template <typename Step>
  bool Run(Step&& step) {
    return RunGuarded(error.jump, step);
  }
};

struct Decoder : JpegSession<jpeg_decompress_struct> {
  SourceManager source{};
  jpeg_progress_mgr progress{};

  explicit Decoder(DataHandle* handle) {
    InstallSourceManager(source, handle);
    progress.progress_monitor = LimitScans;
  }
};

// Creates the object, reads the header and computes the output dimensions, keeping
// the APP1 segments when asked. libjpeg's own allocations are capped like the image
// buffer.
bool ReadHeader(Decoder& decoder, bool keepApp1 = false) {
  return decoder.Run([&] {
    jpeg_create_decompress(&decoder.info);
    decoder.info.mem->max_memory_to_use = static_cast<long>(kMaxImageBufferBytes);
    decoder.info.src = &decoder.source.pub;
    decoder.info.progress = &decoder.progress;
    if (keepApp1) jpeg_save_markers(&decoder.info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&decoder.info, TRUE);
    jpeg_calc_output_dimensions(&decoder.info);
  });
}

bool IsCmyk(const jpeg_decompress_struct& info) {
  return info.output_components == 4 &&
         (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK);
}

bool HasSupportedOutput(const jpeg_decompress_struct& info) {
  return info.output_components == 3 || info.output_components == 1 || IsCmyk(info);
}

// Adobe files store CMYK inverted, so each byte already is "1 - ink".
void CmykRowToRgb(const JSAMPLE* cmyk, size_t count, uint8_t* rgb) {
  for (size_t i = 0; i < count; ++i, cmyk += 4, rgb += 3) {
    const unsigned k = cmyk[3];
    rgb[0] = static_cast<uint8_t>(cmyk[0] * k / 255);
    rgb[1] = static_cast<uint8_t>(cmyk[1] * k / 255);
    rgb[2] = static_cast<uint8_t>(cmyk[2] * k / 255);
  }
}

Palette GrayLevels() {
  Palette levels{};
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<BYTE>(i);
    levels[i] = RGBQUAD{v, v, v, 0};
  }
  return levels;
}

// Reads every row into the RGB buffer. RGB rows land in place; gray and CMYK rows
// go through a scratch row of libjpeg's image pool. On a fatal error the rows read
// so far (info.output_scanline of them) stay in the buffer.
bool DecodeRows(Decoder& decoder, uint8_t* rgb) {
  static const Palette kGrayLevels = GrayLevels();
  jpeg_decompress_struct& info = decoder.info;
  return decoder.Run([&] {
    const size_t width = info.output_width;
    const size_t stride = width * 3;
    JSAMPROW scratch = nullptr;
    if (info.output_components != 3) {
      scratch = info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                       info.output_width * info.output_components, 1)[0];
    }
    while (info.output_scanline < info.output_height) {
      uint8_t* out = rgb + info.output_scanline * stride;
      JSAMPROW row = scratch != nullptr ? scratch : out;
      jpeg_read_scanlines(&info, &row, 1);
      if (info.output_components == 1) {
        ExpandRowToRgb(scratch, width, RowFormat{.bitsPerPixel = 8, .palette = &kGrayLevels}, out);
      } else if (info.output_components == 4) {
        CmykRowToRgb(scratch, width, out);
      }
    }
  });
}

// libjpeg's smallest scale N/8 at which the image is at least minWidth x minHeight
// (N = 8 when none is smaller), with the output dimensions computed for it.
void ChooseScale(Decoder& decoder, uint32_t minWidth, uint32_t minHeight) {
  jpeg_decompress_struct& info = decoder.info;
  info.scale_denom = 8;
  for (unsigned eighths = 1; eighths <= 8; ++eighths) {
    info.scale_num = eighths;
    jpeg_calc_output_dimensions(&info);
    if (info.output_width >= minWidth && info.output_height >= minHeight) return;
  }
}

// The smallest size a reduced decode may give.
struct MinimumSize {
  uint32_t width;
  uint32_t height;
};

// Decodes into a new RGB buffer, at full size or reduced no further than `minimum`.
HGLOBAL Decode(OpContext& ctx, HISSRC source, int32_t* width, int32_t* height,
               const MinimumSize* minimum) {
  Decoder decoder(source);
  if (!ReadHeader(decoder) || (minimum != nullptr && !decoder.Run([&] {
        ChooseScale(decoder, minimum->width, minimum->height);
      }))) {
    ctx.Fail(kErrBadJpeg);
    return nullptr;
  }
  jpeg_decompress_struct& info = decoder.info;
  if (!HasSupportedOutput(info)) {
    ctx.Fail(kErrWrongBitDepth);
    return nullptr;
  }
  // Checked before libjpeg starts, which allocates for the whole image.
  if (!CheckPixelLimit(ctx, info.output_width, info.output_height)) return nullptr;
  GlobalBlock buffer =
      AllocateImageBuffer(ctx, ImageBytes(info.output_width, info.output_height, 3));
  if (!buffer) return nullptr;
  if (!decoder.Run([&] { jpeg_start_decompress(&info); })) {
    ctx.Fail(kErrBadJpeg);
    return nullptr;
  }
  *width = static_cast<int32_t>(info.output_width);
  *height = static_cast<int32_t>(info.output_height);
  // A failed row keeps what was decoded; so does a failure while finishing. Data
  // that ends before the first row holds no picture at all.
  if (!DecodeRows(decoder, buffer.Data()) || !decoder.Run([&] { jpeg_finish_decompress(&info); }) ||
      decoder.error.endedBeforeARow) {
    ctx.Fail(kErrReadFile);
  }
  if (decoder.error.endedBeforeARow || info.output_scanline == 0) return nullptr;
  return buffer.Release();
}

}  // namespace

HGLOBAL ReadJPEG(HISSRC source, int32_t* width, int32_t* height, int32_t requestedBits) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckSourceAndOutputs(ctx, source, width, height) ||
        !CheckRequestedBits(ctx, requestedBits)) {
      return nullptr;
    }
    return Decode(ctx, source, width, height, nullptr);
  });
}

HGLOBAL ReadJPEGReduced(HISSRC source, int32_t* width, int32_t* height, uint32_t minWidth,
                        uint32_t minHeight) {
  return RunEntry([&](OpContext& ctx) -> HGLOBAL {
    if (!CheckSourceAndOutputs(ctx, source, width, height)) return nullptr;
    const MinimumSize minimum{minWidth, minHeight};
    return Decode(ctx, source, width, height, &minimum);
  });
}

BOOL ReadJPEGInfo(HISSRC source, int32_t* width, int32_t* height, int32_t* bitsPerPixel,
                  ResolutionRecord* resolution) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, width, height, bitsPerPixel, resolution)) return FALSE;
    Decoder decoder(source);
    if (!ReadHeader(decoder)) return ctx.Fail(kErrBadJpeg);
    const jpeg_decompress_struct& info = decoder.info;
    *width = static_cast<int32_t>(info.image_width);
    *height = static_cast<int32_t>(info.image_height);
    *bitsPerPixel = info.output_components * 8;
    *resolution = ResolutionRecord{info.X_density, info.Y_density, info.density_unit};
    return TRUE;
  });
}

BOOL ReadJPEGExif(HISSRC source, std::vector<uint8_t>* exif) {
  return RunEntry([&](OpContext& ctx) -> BOOL {
    if (!CheckSourceAndOutputs(ctx, source, exif)) return FALSE;
    exif->clear();
    Decoder decoder(source);
    if (!ReadHeader(decoder, true)) return ctx.Fail(kErrBadJpeg);
    static constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
    for (jpeg_saved_marker_ptr marker = decoder.info.marker_list; marker != nullptr;
         marker = marker->next) {
      if (marker->data_length >= sizeof kExifHeader &&
          std::memcmp(marker->data, kExifHeader, sizeof kExifHeader) == 0) {
        exif->assign(marker->data, marker->data + marker->data_length);
        break;
      }
    }
    return TRUE;
  });
}

namespace {

// ---- encoding ----

struct Encoder : JpegSession<jpeg_compress_struct> {
  DestinationManager destination{};

  explicit Encoder(DataHandle* handle) { InstallDestinationManager(destination, handle); }
};

struct EncodeSettings {
  int32_t width;
  int32_t height;
  int32_t quality;
  bool progressive;
  bool gray;
  const ResolutionRecord& resolution;
};

bool StartEncoding(Encoder& encoder, const EncodeSettings& settings) {
  jpeg_compress_struct& info = encoder.info;
  return encoder.Run([&] {
    jpeg_create_compress(&info);
    info.dest = &encoder.destination.pub;
    info.image_width = static_cast<JDIMENSION>(settings.width);
    info.image_height = static_cast<JDIMENSION>(settings.height);
    info.input_components = settings.gray ? 1 : 3;
    info.in_color_space = settings.gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.quality, TRUE);
    if (settings.progressive) jpeg_simple_progression(&info);
    // The JFIF header holds the unit in 8 bits and each density in 16.
    info.density_unit = static_cast<UINT8>(settings.resolution.unit);
    info.X_density = static_cast<UINT16>(settings.resolution.xDensity);
    info.Y_density = static_cast<UINT16>(settings.resolution.yDensity);
    jpeg_start_compress(&info, TRUE);
  });
}

bool EncodeRows(Encoder& encoder, const uint8_t* pixels, size_t stride) {
  jpeg_compress_struct& info = encoder.info;
  return encoder.Run([&] {
    while (info.next_scanline < info.image_height) {
      // libjpeg only reads the rows it is given.
      JSAMPROW row = const_cast<JSAMPROW>(pixels + info.next_scanline * stride);
      jpeg_write_scanlines(&info, &row, 1);
    }
  });
}

}  // namespace

uint32_t WriteJPEG(HISDEST destination, const uint8_t* pixels, int32_t width, int32_t height,
                   int32_t quality, BOOL progressive, int32_t bits,
                   const ResolutionRecord& resolution) {
  return RunEntry([&](OpContext& ctx) -> uint32_t {
    if (!CheckHandle(ctx, destination)) return 0;
    if (pixels == nullptr || width <= 0 || height <= 0 || (bits != 8 && bits != 24)) {
      ctx.Fail(kErrInvalidArgument);
      return 0;
    }
    const bool gray = bits == 8;
    Encoder encoder(destination);
    if (!StartEncoding(encoder, {width, height, quality, progressive != FALSE, gray, resolution})) {
      ctx.Fail(kErrBadJpeg);
      return 0;
    }
    if (!EncodeRows(encoder, pixels, static_cast<size_t>(width) * (gray ? 1 : 3))) {
      ctx.Fail(kErrWriteFile);
      return 0;
    }
    if (!encoder.Run([&] { jpeg_finish_compress(&encoder.info); })) {
      ctx.Fail(kErrBadJpeg);
      return 0;
    }
    return DataSize(destination);
  });
}

}  // namespace vellum
