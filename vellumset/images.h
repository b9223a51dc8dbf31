// Images: a collection of image files kept in memory under names, loaded from a path, a
// byte array or a database field and handed back by name or position, as an Image, a
// byte array, a file or a field. The entries live in a private Dictionary keyed by
// name; every lookup and change is one call into it, atomic under its lock.
#pragma once

#include <atomic>

#include "platform/automation/dispatch.h"
#include "vellumset/dictionary.h"
#include "vellumset/free_threaded.h"
#include "vellumset/image.h"
#include "vellumset/interfaces.h"

namespace vellumset {

const automation::BoundInterface& ImagesInterface();

class Images final : public FreeThreadedObject<DispatchImpl<IImages, &ImagesInterface>,
                                               SupportErrorInfoFor<IImages>> {
 public:
  explicit Images(IUnknown* outer) : FreeThreadedObject(outer) {}
  HRESULT FinalConstruct();

  HRESULT get_Item(VARIANT key, IImage** image) override;
  HRESULT LoadImage(VARIANT name, VARIANT source, EZImageFormat format) override;
  HRESULT get_Count(LONG* count) override;
  HRESULT get_ChunkSize(LONG* chunkSize) override;
  HRESULT put_ChunkSize(LONG chunkSize) override;
  HRESULT SaveImage(VARIANT key, VARIANT destination, VARIANT* result) override;
  HRESULT Remove(VARIANT key) override;
  HRESULT RemoveAll() override;
  HRESULT Exists(VARIANT key, VARIANT_BOOL* exists) override;
  HRESULT get__NewEnum(IUnknown** enumerator) override;

 private:
  // The Image stored under a name or at a position; null when there is none.
  ComPtr<Image> Find(const VARIANT& key);
  HRESULT Fail(std::u16string_view message, HRESULT result = 0);
  // "<key> does not exist in the collection".
  HRESULT NotFound(const VARIANT& key);
  HRESULT SaveToField(const Image& image, IDispatch* field, VARIANT* result);

  ComPtr<Dictionary> dictionary_;
  // Not used by any operation (database transfers are made in one piece).
  std::atomic<LONG> chunkSize_{2048};
};

}  // namespace vellumset
