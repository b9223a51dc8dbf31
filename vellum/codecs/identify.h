// Format identification: the core format code of an image from its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vellum/codecs/codec_types.h"
#include "vellum/core/data_handle.h"

namespace vellum {

// How many bytes IdentifyFormat reads: enough for every signature, the " EMF"
// mark at offset 40 included.
constexpr size_t kIdentifyBytes = 44;

// The core format code of the data at the source's current position, or 0 when no
// signature matches. Reads up to 44 bytes and compares each signature with the
// bytes actually read, so a file shorter than 44 bytes is still recognised; a
// signature reaching past the bytes read does not match. The source is left where
// the read stopped: callers rewind before they call a reader.
// Code 5 for a null source, 38 for an invalid one; an unknown start is not an error.
int32_t IdentifyFormat(HISSRC source);

}  // namespace vellum
