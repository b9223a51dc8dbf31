// The database field both servers accept from scripts: an object holding one binary
// large object, with the members GetChunk, AppendChunk and ActualSize. A failed name
// lookup of the member a caller needs is how an argument that is not a field is told.
//
// A field is called early-bound through IField when it offers that interface, and
// otherwise through IDispatch::Invoke by name; the arguments and results are the same.
//
//   GetChunk(length)    the next bytes of the value (at most `length`) as
//                       VT_ARRAY | VT_UI1; VT_NULL once the value is exhausted or empty
//   AppendChunk(bytes)  appends VT_ARRAY | VT_UI1 bytes after those already appended
//   ActualSize          the number of bytes the value holds
#pragma once

#include <span>

#include "platform/com/interfaces.h"

namespace field_contract {

// {1C2A29D6-5475-4012-A5BE-680F4DB6A411}
constexpr IID IID_IField = {
    0x1C2A29D6, 0x5475, 0x4012, {0xA5, 0xBE, 0x68, 0x0F, 0x4D, 0xB6, 0xA4, 0x11}};

class IField : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IField;
  virtual HRESULT get_ActualSize(LONG* size) = 0;
  virtual HRESULT AppendChunk(VARIANT data) = 0;
  virtual HRESULT GetChunk(LONG length, VARIANT* chunk) = 0;

 protected:
  ~IField() = default;
};

inline constexpr char16_t kGetChunk[] = u"GetChunk";
inline constexpr char16_t kAppendChunk[] = u"AppendChunk";
inline constexpr char16_t kActualSize[] = u"ActualSize";

// The DISPID of one member, asked for by its name alone; the lookup's own failure
// (normally DISP_E_UNKNOWNNAME) when the object does not know it.
HRESULT FindMember(IDispatch* field, const char16_t* name, LCID locale, DISPID* id);

// A late-bound call of the named member with `arguments` in call order. When the
// member fails with DISP_E_EXCEPTION its own failure code (when it gave one) is
// returned, and what it reported goes to `exception` (the caller clears it) or, when
// that is null, is installed as the calling thread's error information.
HRESULT InvokeByName(IDispatch* field, const char16_t* name, WORD flags,
                     std::span<VARIANT> arguments, LCID locale, VARIANT* result,
                     EXCEPINFO* exception = nullptr);

// The early-bound calls, by name when the object does not offer IField.
HRESULT GetChunk(IDispatch* field, LONG length, LCID locale, VARIANT* chunk);
HRESULT AppendChunk(IDispatch* field, const VARIANT& data, LCID locale);
HRESULT ActualSize(IDispatch* field, LCID locale, LONG* size);

}  // namespace field_contract
