// The implementation side of objects: reference-counted interface pointers (ComPtr),
// the IUnknown every object shares (ComObject, with aggregation), creation through a
// class factory (CreateComObject) and the ISupportErrorInfo answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "platform/com/interfaces.h"

// Holds one reference to an interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT: null converts implicitly, as a raw pointer does
  // Takes a new reference on `pointer`.
  explicit ComPtr(T* pointer) : pointer_(pointer) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.pointer_) {}
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* pointer) {
    ComPtr owner;
    owner.pointer_ = pointer;
    return owner;
  }

  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  // The address to receive a new reference from a call; drops the current one first.
  T** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  T* Detach() { return std::exchange(pointer_, nullptr); }
  void Reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }

  // Asks the object for another of its interfaces.
  template <typename U>
  HRESULT As(ComPtr<U>* other) const {
    if (pointer_ == nullptr) return E_POINTER;
    return pointer_->QueryInterface(U::kIid, other->ReceiveVoid());
  }

 private:
  T* pointer_ = nullptr;
};

// Stores a property's value into a caller's out pointer: E_POINTER for a null one.
template <typename T>
HRESULT StoreOut(T* target, T value) {
  if (target == nullptr) return E_POINTER;
  *target = value;
  return S_OK;
}

// True when `iid` names T or an interface T extends.
template <typename T>
bool InterfaceMatches(REFIID iid) {
  if (iid == T::kIid) return true;
  if constexpr (requires { typename T::Base; }) {
    return InterfaceMatches<typename T::Base>(iid);
  } else {
    return false;
  }
}

// The IUnknown of an object that implements `Interfaces` (each an interface, or an
// implementation of one such as DispatchImpl). The reference count lives in the
// object's own, non-delegating IUnknown (its identity). A standalone object's
// interfaces delegate to that identity; an aggregated object's interfaces delegate
// to the outer object, which holds the identity.
template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return controller_->QueryInterface(iid, object);
  }
  ULONG AddRef() override { return controller_->AddRef(); }
  ULONG Release() override { return controller_->Release(); }

  // The object's own IUnknown: what QueryInterface for IUnknown returns when the
  // object stands alone, and what an outer object keeps when it aggregates it.
  IUnknown* InnerUnknown() { return &identity_; }

 protected:
  explicit ComObject(IUnknown* outer) : identity_(this), controller_(outer ? outer : &identity_) {}
  virtual ~ComObject() = default;

  // Interfaces beyond the listed ones (an aggregated inner object's, for example).
  // The caller takes the reference.
  virtual void* FindOtherInterface(REFIID) { return nullptr; }

  // What this object's interfaces delegate to: the outer object when it is
  // aggregated, else its own identity. An object that aggregates another passes this
  // as the inner object's outer.
  IUnknown* ControllingUnknown() { return controller_; }

 private:
  void* FindInterface(REFIID iid) {
    void* found = nullptr;
    ((found == nullptr && InterfaceMatches<Interfaces>(iid) ? found = static_cast<Interfaces*>(this)
                                                            : found),
     ...);
    return found != nullptr ? found : FindOtherInterface(iid);
  }

  class Identity final : public IUnknown {
   public:
    explicit Identity(ComObject* owner) : owner_(owner) {}
    virtual ~Identity() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override {
      if (object == nullptr) return E_POINTER;
      *object = iid == IID_IUnknown ? static_cast<IUnknown*>(this) : owner_->FindInterface(iid);
      if (*object == nullptr) return E_NOINTERFACE;
      static_cast<IUnknown*>(*object)->AddRef();
      return S_OK;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
      const ULONG left = --references_;
      if (left == 0) delete owner_;
      return left;
    }

   private:
    ComObject* owner_;
    std::atomic<ULONG> references_{0};
  };

  Identity identity_;
  IUnknown* controller_;
};

// An interface of an aggregated inner object, for FindOtherInterface: the reference
// the query took went to the outer object and is given back, as the caller takes one.
inline void* FindAggregatedInterface(IUnknown* inner, REFIID iid) {
  void* found = nullptr;
  if (inner == nullptr || FAILED(inner->QueryInterface(iid, &found)) || found == nullptr) {
    return nullptr;
  }
  static_cast<IUnknown*>(found)->Release();
  return found;
}

// Answers ISupportErrorInfo: S_OK for the listed interfaces, S_FALSE for any other.
template <typename... Supported>
class SupportErrorInfoFor : public ISupportErrorInfo {
 public:
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return ((iid == Supported::kIid) || ...) ? S_OK : S_FALSE;
  }

 protected:
  ~SupportErrorInfoFor() = default;
};

// Creates an object of class T for a class factory: T is constructed from the outer
// object (null when not aggregated), then its FinalConstruct runs when it has one,
// and the requested interface is returned. An outer object must ask for IUnknown.
template <typename T>
HRESULT CreateComObject(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  T* created = nullptr;
  try {
    created = new T(outer);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  IUnknown* identity = created->InnerUnknown();
  identity->AddRef();
  HRESULT hr = S_OK;
  if constexpr (requires { created->FinalConstruct(); }) hr = created->FinalConstruct();
  if (SUCCEEDED(hr)) hr = identity->QueryInterface(iid, object);
  identity->Release();
  return hr;
}
