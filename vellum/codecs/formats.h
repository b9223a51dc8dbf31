// The format table: one row per image file format, holding everything the system
// knows about it. Identification tries the rows' signatures; loading calls a row's
// reader and resolution query; saving calls its writer and prepares the pixels as
// the row says; the browser path takes its MIME type, extension and download name.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/kernel/win_types.h"
#include "vellum/codecs/codec_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// A run of bytes expected at an offset from the start of the file.
struct SignaturePiece {
  uint8_t offset = 0;
  std::string_view bytes;
};

// A signature matches when all of its pieces (at most two) lie within the bytes read
// and equal them.
struct Signature {
  SignaturePiece first{};
  SignaturePiece second{};
};

// What a reader is given besides the source.
struct ReadRequest {
  // The file's path when the source is a file (metafiles render from it), else null.
  const char* path = nullptr;
  int32_t page = 0;  // 0-based page of a multi-page file
  // In and out: the file's transparent colour (0x00BBGGRR) or -1, for formats that
  // record one; left alone by the others.
  int32_t* transparentColor = nullptr;
};

// A file's resolution in the object's terms (DPIUnits: 0 none, 1 per inch, 2 per
// centimetre, 3 per metre).
struct ObjectResolution {
  bool hasDensities = false;  // false: only the unit is taken
  int32_t xDensity = 0;
  int32_t yDensity = 0;
  int32_t units = 0;
};

enum class ResolutionRead {
  kNone,     // no resolution could be read: the object keeps its own
  kTaken,    // `ObjectResolution` holds it
  kRefused,  // a unit the object cannot express: the image is refused
};

// What a writer is given: pixels prepared as the row asks (RGB at depth 24, else
// indices or gray bytes), and the object's settings that concern the format.
struct WriteRequest {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 24;
  int32_t paletteCount = 0;
  RGBQUAD* palette = nullptr;  // the save palette; a writer may mark entries in it
  bool gray = false;           // a palette-less gray image
  int32_t quality = 0;
  int32_t progressive = 0;
  int16_t dpiX = 0;
  int16_t dpiY = 0;
  int32_t dpiUnits = 0;
  COLORREF transparentColor = 0;  // values from 0x1000000 up name no colour
  int32_t backgroundIndex = 0;    // for writers that choose a transparent index
  int32_t transparentIndex = -1;  // negative: none
};

// When the save step expands reduced pixels back to 24-bit RGB for the writer.
enum class RgbExpansion {
  kNever,
  kAlways,
  kUnlessGray,  // but not the gray image nor a 1-bit one
};

struct FileFormat {
  int32_t code = 0;      // the core code identification reports (ImageFormat after a load)
  int32_t saveCode = 0;  // its EZImageFormat value; 0 when it is never written
  Signature signatures[4] = {};
  // For a start that fixed bytes cannot describe: tried after the signatures with the
  // bytes identification read.
  bool (*matches)(const uint8_t* start, size_t count) = nullptr;
  // Null when the format is recognised but not decoded.
  HGLOBAL(*read)
  (HISSRC source, const ReadRequest& request, int32_t* width, int32_t* height) = nullptr;
  // Queried after a successful read; null for formats that carry no resolution.
  ResolutionRead (*readResolution)(HISSRC source, ObjectResolution* resolution) = nullptr;
  // The orientation (1 to 8, as EXIF numbers them) that the reader's image still needs
  // to show upright, from what the file records; 1 when it records none or cannot be
  // read. Queried only when the object turns images upright; null for formats that
  // record no orientation.
  int32_t (*readOrientation)(HISSRC source, const ReadRequest& request) = nullptr;
  // The bytes written, 0 on failure; null when the format is never written.
  uint32_t (*write)(HISDEST destination, WriteRequest& request) = nullptr;
  // How the save step prepares the pixels.
  bool needsPalette = false;             // true colour is reduced to 256 colours first
  bool choosesTransparentIndex = false;  // TransparentColor picks a transparent palette index
  bool unpacksSixteenColors = false;     // 16-colour images go to the writer a byte per pixel
  RgbExpansion expansion = RgbExpansion::kNever;
  // What the browser gets.
  std::u16string_view mimeType{};
  std::u16string_view extension{};    // given to a download name made from the page's name
  std::u16string_view defaultName{};  // the download name when the page's name gives none
  bool attachment = false;            // sent as an attachment: browsers do not show it
};

// The rows in identification order: rows are tried first to last, and within a row
// its signatures in order; the first match decides.
const FileFormat* FileFormatsBegin();
const FileFormat* FileFormatsEnd();

// True when the entry holds `color` (0x00BBGGRR) in its blue, green and red; a value
// from 0x1000000 up (-1 among them) names no colour and is held by none.
bool HoldsColor(const RGBQUAD& entry, COLORREF color);

// The row of a core format code, or null.
const FileFormat* FindFormatByCode(int32_t code);
// The row written for an EZImageFormat value, or null.
const FileFormat* FindFormatBySaveCode(int32_t saveCode);

}  // namespace vellum
