// What the page objects share: the scope of the request they belong to, refusal of
// calls from elsewhere, error reporting, texts, indexes and enumerators.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/pages/page_interfaces.h"

namespace pages {

// The request a page object belongs to. Its objects answer only on the thread that
// serves the request and only until the request ends: a page may hand one to a shared
// object (a Dictionary kept in Application), and another page must not reach into a
// response that is not its own, nor into one that is gone.
class PageScope {
 public:
  PageScope() : thread_(std::this_thread::get_id()) {}
  bool CallableHere() const { return live_.load() && std::this_thread::get_id() == thread_; }
  void End() { live_ = false; }

 private:
  std::thread::id thread_;
  std::atomic<bool> live_{true};
};

// Sets the thread's error information (the object as its source) and returns `hr`.
HRESULT Fail(HRESULT hr, const char16_t* source, std::u16string_view description);

// DISP_E_EXCEPTION with RPC_E_WRONG_THREAD and a description in `exception`.
HRESULT RefuseOutsideScope(EXCEPINFO* exception);

// DispatchImpl for an object of a request: its calls by name are refused outside the
// request's scope.
template <typename Interface, const automation::BoundInterface& (*Describe)()>
class PageDispatch : public DispatchImpl<Interface, Describe> {
 public:
  HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
    if (scope_ == nullptr || !scope_->CallableHere()) return RefuseOutsideScope(exception);
    return DispatchImpl<Interface, Describe>::Invoke(id, iid, locale, flags, params, result,
                                                     exception, argumentError);
  }

 protected:
  ~PageDispatch() = default;
  std::shared_ptr<const PageScope> scope_;
};

// A text of the request (UTF-8 as a rule) as a BSTR: bytes that are not UTF-8 become
// U+FFFD rather than failing. Null only when out of memory.
BSTR RequestText(std::string_view text);
// A script's text as UTF-8; nothing for a string with an unpaired surrogate.
std::optional<std::string> ScriptText(BSTR text);

// An optional argument the caller left out.
bool IsMissing(const VARIANT& value);
// The position a numeric argument names (from 1); nothing for another kind of value.
std::optional<LONG> PositionOf(const VARIANT& value);
// The name a key argument gives (a text, or any value converted to one).
std::optional<std::u16string> NameOf(const VARIANT& value);

// ASCII letters without regard to case, as page object names compare.
bool SameName(std::string_view a, std::string_view b);
bool SameName(std::u16string_view a, std::u16string_view b);

// An IEnumVARIANT over a snapshot of values.
HRESULT MakeValueEnumerator(std::vector<Variant> values, IUnknown** enumerator);

// Stores a new reference to `object` (which must be there) in `out`.
template <typename T, typename U>
HRESULT HandOut(const ComPtr<T>& object, U** out) {
  if (out == nullptr) return E_POINTER;
  *out = object.Get();
  (*out)->AddRef();
  return S_OK;
}

// Makes an object of class T (a ComObject) and returns it typed.
template <typename T, typename I>
ComPtr<T> MakeObject() {
  ComPtr<I> made;
  if (FAILED(CreateComObject<T>(nullptr, I::kIid, made.ReceiveVoid()))) return nullptr;
  return ComPtr<T>(static_cast<T*>(made.Get()));
}

}  // namespace pages
