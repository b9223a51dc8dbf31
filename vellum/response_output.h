// Sending an encoded image as the response of the page the calling thread serves.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/variant.h"

namespace vellum {

// What the browser gets besides the bytes.
struct ResponseHeaders {
  int32_t format = 0;             // EZImageFormat: the MIME type and the download name's extension
  const VARIANT* name = nullptr;  // the download name; missing, empty or "" for the page's own
  VARIANT_BOOL bufferResponse = VARIANT_FALSE;  // the buffering the object asks for (-1 or 0)
  bool attachment = false;                      // send a Content-Disposition attachment header
};

// The download name: `given` converted to a string, or, when it is missing, empty or
// "", the last part of the page's script name without its extension, followed by the
// format's extension (the format's default name when the script name has no "/").
// At most 259 characters.
std::u16string DownloadName(const VARIANT& given, std::u16string_view scriptName, int32_t format);

// Writes `count` bytes to the page's response: reconciles its buffering with
// `bufferResponse`, adds the attachment header when asked, sets the content type and
// sends the bytes in pieces of 65,535 while the client stays connected.
//
// Raises CEZException when the context, the response, the request or the response's
// buffering cannot be had. S_OK when every piece went out or the client left;
// DISP_E_EXCEPTION when asking for the connection or writing a piece failed.
HRESULT WriteToResponse(const uint8_t* bytes, uint32_t count, const ResponseHeaders& headers);

}  // namespace vellum
