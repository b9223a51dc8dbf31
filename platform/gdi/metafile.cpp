// Metafile handles: opening enhanced and Windows metafiles from files and
// memory, checking their headers, and handing their bytes and headers out.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/metafile_records.h"
#include "platform/gdi/objects.h"
#include "platform/kernel/last_error.h"
#include "platform/policy/file_access.h"

namespace gdi {

namespace {

// Files larger than this are not read as metafiles.
constexpr size_t kMaxMetafileFileSize = size_t{1} << 30;

// The file's bytes, read through the platform's file access (regular files inside the
// allowed folders, never blocking); nothing for an empty or unreadable file.
std::optional<std::vector<uint8_t>> ReadWholeFile(const char* fileName) {
  if (fileName == nullptr) return std::nullopt;
  std::string content;
  const DWORD error = policy::ReadWholeFile(fileName, kMaxMetafileFileSize, &content);
  if (error != NO_ERROR) {
    SetLastError(error);
    return std::nullopt;
  }
  if (content.empty()) return std::nullopt;
  return std::vector<uint8_t>(content.begin(), content.end());
}

// The length of the enhanced metafile at the start of `bytes` (its header's
// byte count when that is plausible), or 0 when the header is not one.
size_t EnhMetaFileLength(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kEmfHeaderMinSize) return 0;
  ByteView view(bytes, size);
  const uint32_t headerSize = view.U32(4);
  if (view.U32(0) != EMR_HEADER || headerSize < kEmfHeaderMinSize || headerSize > size ||
      view.U32(40) != ENHMETA_SIGNATURE) {
    return 0;
  }
  const uint32_t declared = view.U32(48);
  return declared >= headerSize && declared <= size ? declared : size;
}

bool IsWinMetaFileHeader(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kWmfHeaderSize) return false;
  ByteView view(bytes, size);
  const uint16_t type = view.U16(0), headerWords = view.U16(2), version = view.U16(4);
  return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

std::shared_ptr<EnhMetaFile> EnhMetaFileOf(HENHMETAFILE handle) {
  return LookupObjectAs<EnhMetaFile>(handle, ObjectKind::kEnhMetaFile);
}

// Copies `bytes` out as the platform's Get...Bits calls do: the size needed for
// a null buffer, 0 for a buffer too small.
UINT CopyBits(const std::vector<uint8_t>& bytes, UINT size, void* buffer) {
  if (buffer == nullptr) return static_cast<UINT>(bytes.size());
  if (size < bytes.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  return static_cast<UINT>(bytes.size());
}

}  // namespace

HENHMETAFILE RegisterEnhMetaFile(std::vector<uint8_t> bytes) {
  const size_t length = EnhMetaFileLength(bytes.data(), bytes.size());
  if (length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bytes.resize(length);
  auto metafile = std::make_shared<EnhMetaFile>();
  metafile->bytes = std::move(bytes);
  return RegisterObject(std::move(metafile));
}

HMETAFILE RegisterMetaFile(std::vector<uint8_t> bytes) {
  if (!IsWinMetaFileHeader(bytes.data(), bytes.size())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto metafile = std::make_shared<MetaFile>();
  metafile->bytes = std::move(bytes);
  return RegisterObject(std::move(metafile));
}

}  // namespace gdi

using namespace gdi;

HENHMETAFILE GetEnhMetaFileA(const char* fileName) {
  std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(fileName);
  return bytes ? RegisterEnhMetaFile(std::move(*bytes)) : nullptr;
}

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bits) {
  if (bits == nullptr || EnhMetaFileLength(bits, size) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return RegisterEnhMetaFile(std::vector<uint8_t>(bits, bits + size));
}

UINT GetEnhMetaFileBits(HENHMETAFILE handle, UINT size, BYTE* buffer) {
  auto metafile = EnhMetaFileOf(handle);
  return metafile == nullptr ? 0 : CopyBits(metafile->bytes, size, buffer);
}

UINT GetEnhMetaFileHeader(HENHMETAFILE handle, UINT size, ENHMETAHEADER* header) {
  auto metafile = EnhMetaFileOf(handle);
  if (metafile == nullptr) return 0;
  ByteView view(metafile->bytes.data(), metafile->bytes.size());
  const UINT recordSize = std::min<UINT>(view.U32(4), sizeof(ENHMETAHEADER));
  if (header == nullptr) return recordSize;
  if (size < kEmfHeaderMinSize) return 0;
  const UINT copied = std::min(size, recordSize);
  std::memset(header, 0, std::min<UINT>(size, sizeof(ENHMETAHEADER)));
  std::memcpy(header, metafile->bytes.data(), copied);
  return copied;
}

BOOL DeleteEnhMetaFile(HENHMETAFILE handle) {
  return EnhMetaFileOf(handle) != nullptr && UnregisterObject(handle);
}

HMETAFILE GetMetaFileA(const char* fileName) {
  std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(fileName);
  return bytes ? RegisterMetaFile(std::move(*bytes)) : nullptr;
}

UINT GetMetaFileBitsEx(HMETAFILE handle, UINT size, void* buffer) {
  auto metafile = LookupObjectAs<MetaFile>(handle, ObjectKind::kMetaFile);
  return metafile == nullptr ? 0 : CopyBits(metafile->bytes, size, buffer);
}

BOOL DeleteMetaFile(HMETAFILE handle) {
  return LookupObjectAs<MetaFile>(handle, ObjectKind::kMetaFile) != nullptr &&
         UnregisterObject(handle);
}
