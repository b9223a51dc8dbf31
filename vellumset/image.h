// Image: one entry of an Images collection, a name, a format tag and the bytes of an
// image file, never decoded. An Image is filled completely before it is added to a
// collection and never changes afterwards, so it may be read from any thread.
#pragma once

#include <span>
#include <string>

#include "platform/automation/dispatch.h"
#include "vellumset/free_threaded.h"
#include "vellumset/interfaces.h"

namespace vellumset {

const automation::BoundInterface& ImageInterface();

class Image final : public FreeThreadedObject<DispatchImpl<IImage, &ImageInterface>> {
 public:
  explicit Image(IUnknown* outer) : FreeThreadedObject(outer) {}

  // Makes a new Image; only an Images collection does.
  static HRESULT Create(std::u16string name, EZImageFormat format, Variant data,
                        ComPtr<Image>* image);

  HRESULT get_Image(VARIANT* bytes) override;
  HRESULT get_Name(BSTR* name) override;
  HRESULT get_Ordinal(LONG* ordinal) override;
  HRESULT get_Format(EZImageFormat* format) override;

  std::span<const BYTE> Bytes() const;
  // A new byte array (VT_ARRAY | VT_UI1) holding a copy of the bytes.
  HRESULT CopyBytes(VARIANT* copy) const;

 private:
  std::u16string name_;
  EZImageFormat format_ = EZJpeg;
  Variant data_;  // a one-dimensional byte array with lower bound 0
};

// Writes a new byte array (VT_ARRAY | VT_UI1, lower bound 0) holding a copy of the bytes
// into `array`, an out-parameter whose old content is not looked at.
HRESULT MakeByteArray(std::span<const BYTE> bytes, VARIANT* array);

}  // namespace vellumset
