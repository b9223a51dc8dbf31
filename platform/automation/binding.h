// Binding a described member to the C++ method that implements it:
//
//   Bind<&IEasel::get_Width>()
//
// makes the thunk the dispatch engine calls, from the method's signature alone. The
// method's parameters are the member's in-parameters, in order, optionally followed
// by one out-parameter for the value it returns (a pointer to LONG, SHORT, double,
// float, BSTR, VARIANT, an enumeration or an interface pointer). The binding also
// records what each parameter reads, so that the description can be checked
// against the method (CheckLibrary).
#pragma once

#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/automation/type_description.h"

namespace automation {

namespace binding_detail {

template <typename T>
constexpr bool kIsInterfacePointer =
    std::is_pointer_v<T>&& std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>;

// How an in-parameter of C++ type T reads its coerced argument.
template <typename T, typename = void>
struct In;
template <>
struct In<LONG> {
  static constexpr SlotKind kKind = SlotKind::kInt32;
  static LONG Read(const VARIANT& v) { return v.lVal; }
};
template <>
struct In<SHORT> {
  static constexpr SlotKind kKind = SlotKind::kInt16;
  static SHORT Read(const VARIANT& v) { return v.iVal; }
};
template <>
struct In<double> {
  static constexpr SlotKind kKind = SlotKind::kReal64;
  static double Read(const VARIANT& v) { return v.dblVal; }
};
template <>
struct In<float> {
  static constexpr SlotKind kKind = SlotKind::kReal32;
  static float Read(const VARIANT& v) { return v.fltVal; }
};
template <>
struct In<BSTR> {
  static constexpr SlotKind kKind = SlotKind::kString;
  static BSTR Read(const VARIANT& v) { return v.bstrVal; }
};
template <>
struct In<VARIANT> {
  static constexpr SlotKind kKind = SlotKind::kVariant;
  static VARIANT Read(const VARIANT& v) { return v; }
};
template <>
struct In<IDispatch*> {
  static constexpr SlotKind kKind = SlotKind::kDispatch;
  static IDispatch* Read(const VARIANT& v) { return v.pdispVal; }
};
template <>
struct In<IUnknown*> {
  static constexpr SlotKind kKind = SlotKind::kUnknown;
  static IUnknown* Read(const VARIANT& v) { return v.punkVal; }
};
template <typename E>
struct In<E, std::enable_if_t<std::is_enum_v<E>>> {
  static_assert(sizeof(E) == sizeof(LONG), "automation enumerations are 32-bit");
  static constexpr SlotKind kKind = SlotKind::kInt32;
  static E Read(const VARIANT& v) { return static_cast<E>(v.lVal); }
};

// How an out-parameter T* stores the value the method gave into the result VARIANT.
template <typename T, typename = void>
struct Out {
  static constexpr bool kIsOut = false;
};
template <typename T>
struct Stored {
  static constexpr bool kIsOut = true;
  template <typename Call>
  static HRESULT Run(Call&& call, VARIANT* result) {
    T value{};
    const HRESULT hr = call(&value);
    if (SUCCEEDED(hr)) Store(value, result);
    return hr;
  }
  static void Store(LONG value, VARIANT* r) { r->lVal = value; }
  static void Store(SHORT value, VARIANT* r) { r->iVal = value; }
  static void Store(double value, VARIANT* r) { r->dblVal = value; }
  static void Store(float value, VARIANT* r) { r->fltVal = value; }
  static void Store(BSTR value, VARIANT* r) { r->bstrVal = value; }
  static void Store(IUnknown* value, VARIANT* r) { r->punkVal = value; }
  template <typename E>
  static std::enable_if_t<std::is_enum_v<E>> Store(E value, VARIANT* r) {
    r->lVal = static_cast<LONG>(value);
  }
};
template <>
struct Out<LONG*> : Stored<LONG> {
  static constexpr SlotKind kKind = SlotKind::kInt32;
};
template <>
struct Out<SHORT*> : Stored<SHORT> {
  static constexpr SlotKind kKind = SlotKind::kInt16;
};
template <>
struct Out<double*> : Stored<double> {
  static constexpr SlotKind kKind = SlotKind::kReal64;
};
template <>
struct Out<float*> : Stored<float> {
  static constexpr SlotKind kKind = SlotKind::kReal32;
};
template <>
struct Out<BSTR*> : Stored<BSTR> {
  static constexpr SlotKind kKind = SlotKind::kString;
};
template <typename E>
struct Out<E*, std::enable_if_t<std::is_enum_v<E>>> : Stored<E> {
  static_assert(sizeof(E) == sizeof(LONG), "automation enumerations are 32-bit");
  static constexpr SlotKind kKind = SlotKind::kInt32;
};
template <typename I>
struct Out<I**, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> : Stored<I*> {
  static constexpr SlotKind kKind =
      std::is_base_of_v<IDispatch, I> ? SlotKind::kDispatch : SlotKind::kUnknown;
};
// A VARIANT result is written by the method itself.
template <>
struct Out<VARIANT*> {
  static constexpr bool kIsOut = true;
  static constexpr SlotKind kKind = SlotKind::kVariant;
  template <typename Call>
  static HRESULT Run(Call&& call, VARIANT* result) {
    return call(result);
  }
};

// True when the last of the parameters is an out-parameter.
template <typename... A>
constexpr bool LastIsOut() {
  if constexpr (sizeof...(A) == 0) {
    return false;
  } else {
    return Out<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>::kIsOut;
  }
}

template <auto Method>
struct Binder;

template <typename I, typename... A, HRESULT (I::*Method)(A...)>
struct Binder<Method> {
  using Args = std::tuple<A...>;
  static constexpr size_t kCount = sizeof...(A);
  static constexpr bool kHasOut = LastIsOut<A...>();
  static constexpr size_t kInCount = kHasOut ? kCount - 1 : kCount;

  template <size_t... N>
  static HRESULT Call(I* self, VARIANT* arguments, VARIANT* result, std::index_sequence<N...>) {
    if constexpr (kHasOut) {
      using Result = std::tuple_element_t<kCount - 1, Args>;
      return Out<Result>::Run(
          [&](Result out) {
            return (self->*Method)(In<std::tuple_element_t<N, Args>>::Read(arguments[N])..., out);
          },
          result);
    } else {
      return (self->*Method)(In<std::tuple_element_t<N, Args>>::Read(arguments[N])...);
    }
  }

  static HRESULT Thunk(void* object, VARIANT* arguments, VARIANT* result) {
    return Call(static_cast<I*>(object), arguments, result, std::make_index_sequence<kInCount>());
  }

  template <size_t... N>
  static std::vector<SlotKind> Parameters(std::index_sequence<N...>) {
    return {In<std::tuple_element_t<N, Args>>::kKind...};
  }

  static Binding Make() {
    SlotKind result = SlotKind::kNone;
    if constexpr (kHasOut) result = Out<std::tuple_element_t<kCount - 1, Args>>::kKind;
    return {&Thunk, Parameters(std::make_index_sequence<kInCount>()), result};
  }
};

}  // namespace binding_detail

// The binding of a member to the interface method `Method`; the dispatch engine calls
// it with the object pointer as the method's interface (I*).
template <auto Method>
Binding Bind() {
  return binding_detail::Binder<Method>::Make();
}

}  // namespace automation
