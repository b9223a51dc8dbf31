#include "platform/gdi/metafile_records.h"

#include <algorithm>

namespace gdi {

EmfWriter::EmfWriter(const RECT& frame, const SIZE& devicePixels, const SIZE& deviceMillimeters) {
  ENHMETAHEADER header{};
  header.iType = EMR_HEADER;
  header.nSize = sizeof(ENHMETAHEADER);
  header.rclBounds = {0, 0, -1, -1};
  header.rclFrame = frame;
  header.dSignature = ENHMETA_SIGNATURE;
  header.nVersion = 0x10000;
  header.szlDevice = devicePixels;
  header.szlMillimeters = deviceMillimeters;
  header.szlMicrometers = {deviceMillimeters.cx * 1000, deviceMillimeters.cy * 1000};
  Bytes(&header, sizeof header);
  records_ = 1;
}

void EmfWriter::Begin(uint32_t type) {
  recordStart_ = bytes_.size();
  U32(type);
  U32(0);  // size, stored by End
}

void EmfWriter::U32(uint32_t value) { Bytes(&value, 4); }

void EmfWriter::F32(float value) { Bytes(&value, 4); }

void EmfWriter::Rect(const RECT& r) { I32(r.left), I32(r.top), I32(r.right), I32(r.bottom); }

void EmfWriter::Bytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

void EmfWriter::End() {
  while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  Patch(recordStart_ + 4, static_cast<uint32_t>(bytes_.size() - recordStart_));
  ++records_;
}

void EmfWriter::Record(uint32_t type, std::initializer_list<uint32_t> values) {
  Begin(type);
  for (uint32_t v : values) U32(v);
  End();
}

void EmfWriter::Patch(size_t offset, uint32_t value) {
  std::memcpy(bytes_.data() + offset, &value, 4);
}

size_t EmfWriter::ReserveDibFields() {
  const size_t fields = bytes_.size();
  for (int i = 0; i < 4; ++i) U32(0);
  return fields;
}

void EmfWriter::AppendDib(size_t fields, const void* info, size_t infoSize, const void* bits,
                          size_t bitsSize) {
  const size_t infoOffset = bytes_.size() - recordStart_;
  Bytes(info, infoSize);
  while ((bytes_.size() - recordStart_) % 4 != 0) bytes_.push_back(0);
  const size_t bitsOffset = bytes_.size() - recordStart_;
  Bytes(bits, bitsSize);
  Patch(fields, static_cast<uint32_t>(infoOffset));
  Patch(fields + 4, static_cast<uint32_t>(infoSize));
  Patch(fields + 8, static_cast<uint32_t>(bitsOffset));
  Patch(fields + 12, static_cast<uint32_t>(bitsSize));
}

void EmfWriter::IncludeBounds(const RECT& r) {
  if (!hasBounds_) {
    bounds_ = r;
    hasBounds_ = true;
    return;
  }
  bounds_.left = std::min(bounds_.left, r.left);
  bounds_.top = std::min(bounds_.top, r.top);
  bounds_.right = std::max(bounds_.right, r.right);
  bounds_.bottom = std::max(bounds_.bottom, r.bottom);
}

std::vector<uint8_t> EmfWriter::Finish() {
  Record(EMR_EOF, {0, 16, 20});  // no palette entries, their offset, the record's size
  auto* header = reinterpret_cast<ENHMETAHEADER*>(bytes_.data());
  header->rclBounds = bounds_;
  header->nBytes = static_cast<DWORD>(bytes_.size());
  header->nRecords = records_;
  header->nHandles = handles_;
  return std::move(bytes_);
}

}  // namespace gdi
