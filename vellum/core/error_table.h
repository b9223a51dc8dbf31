// The error codes of the imaging core and their texts.
#pragma once

#include <cstdint>

namespace vellum {

// Error codes of the imaging core. Codes without a name exist only in the text table.
enum CoreError : int32_t {
  kOk = 0,
  kErrNoMemory = 1,
  kErrOpenFile = 2,
  kErrReadFile = 3,
  kErrWriteFile = 4,
  kErrInvalidArgument = 5,
  kErrBadBmp = 6,
  kErrUnsupportedRle = 7,
  kErrBadGif = 8,
  kErrBadJpeg = 9,
  kErrDeviceContext = 10,
  kErrBadPng = 15,
  kErrPngInternal = 16,
  kErrPngUnexpected = 17,
  kErrFontCreation = 18,
  kErrBadTiff = 20,
  kErrBadPcx = 22,
  kErrCreateCompatibleBitmap = 23,
  kErrGetDIBits = 25,
  kErrDeviceUnsupported = 26,
  kErrBadMetafile = 27,
  kErrWrongBitDepth = 28,
  kErrLzwNotPermitted = 36,
  kErrInvalidHandle = 38,
  kErrSetWinMetaFileBits = 41,
  kErrGetMetaFileBits = 42,
  kErrBadPsd = 46,
  kErrUnsupportedPsd = 47,
  kErrPixelLimit = 54,
  // Codes for the formats added since.
  kErrBadWebp = 55,
  kErrBadAvif = 56,
};

// The message for a code from 1 to 56 (each ends in "\r\n"), or null for any other code.
const char* CoreErrorText(int32_t code);

}  // namespace vellum
