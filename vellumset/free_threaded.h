// The base of every VellumSet object: it keeps the module locked while it lives and
// aggregates the free-threaded marshaler, so its interface pointers may be used from
// any thread.
#pragma once

#include "platform/com/activation.h"
#include "platform/com/object.h"
#include "vellumset/module_lock.h"

namespace vellumset {

template <typename... Interfaces>
class FreeThreadedObject : public ComObject<Interfaces...> {
 public:
  HRESULT FinalConstruct() {
    return CoCreateFreeThreadedMarshaler(this->ControllingUnknown(), marshaler_.Receive());
  }

 protected:
  explicit FreeThreadedObject(IUnknown* outer)
      : ComObject<Interfaces...>(outer), moduleLock_(ModuleLocks()) {}

 private:
  void* FindOtherInterface(REFIID iid) override {
    return iid == IID_IMarshal ? FindAggregatedInterface(marshaler_.Get(), iid) : nullptr;
  }

  ModuleLockHolder moduleLock_;
  ComPtr<IUnknown> marshaler_;
};

}  // namespace vellumset
