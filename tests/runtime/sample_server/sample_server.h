// The interface and identifiers of the sample server the runtime tests load.
#pragma once

#include "platform/com/interfaces.h"

constexpr GUID LIBID_SampleLib = {
    0x7C789931, 0xECB3, 0x4C5B, {0xB5, 0x03, 0x84, 0x7C, 0xDA, 0xCB, 0xB3, 0xB2}};
constexpr IID IID_ICounter = {
    0x8EE21E49, 0x146A, 0x4E7C, {0xA9, 0xD0, 0xA8, 0xC8, 0xF3, 0xFE, 0x98, 0xC6}};
constexpr CLSID CLSID_SampleCounter = {
    0xD8A1C4E2, 0x5B37, 0x4F0A, {0x9C, 0x61, 0x2E, 0x84, 0xB7, 0xF3, 0xA9, 0x15}};

class ICounter : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_ICounter;
  virtual HRESULT get_Value(LONG* value) = 0;
  virtual HRESULT put_Value(LONG value) = 0;
  virtual HRESULT Increment(LONG step, LONG* value) = 0;
  virtual HRESULT Fail(BSTR message) = 0;
  virtual HRESULT get_Item(LONG index, LONG* value) = 0;
  virtual HRESULT put_Item(LONG index, LONG value) = 0;
  virtual HRESULT put_Key(LONG index, LONG value) = 0;
  virtual HRESULT Echo(VARIANT value, VARIANT* result) = 0;
  virtual HRESULT get_Numbers(VARIANT* value) = 0;

 protected:
  ~ICounter() = default;
};
