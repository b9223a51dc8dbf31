// The automation interfaces of the collection server (type library VELLUMSETLib): the
// identifiers, the image format enumeration and the dual interfaces IDictionary,
// IImages and IImage, in the order of their table slots.
#pragma once

#include "platform/com/interfaces.h"

namespace vellumset {

constexpr GUID LIBID_VELLUMSETLib = {
    0x0A7B1BDD, 0x8F6B, 0x4A4D, {0xA0, 0x1D, 0xEC, 0xF2, 0x39, 0x4F, 0xB0, 0xB7}};
constexpr IID IID_IImages = {
    0x1DF7920A, 0x8AF2, 0x4383, {0xB0, 0xB5, 0x1C, 0x9E, 0x2E, 0xF6, 0x3B, 0xC6}};
constexpr CLSID CLSID_Images = {
    0x45A1DA4F, 0xD7FE, 0x43EA, {0xB4, 0x5A, 0x51, 0x32, 0x12, 0x45, 0xC5, 0x85}};
constexpr IID IID_IImage = {
    0x000DBB82, 0xD066, 0x4715, {0xB7, 0x9A, 0x1D, 0xAB, 0x3B, 0x3B, 0xA7, 0x6D}};
constexpr CLSID CLSID_Image = {
    0x39E37D4D, 0x4899, 0x4341, {0xA5, 0x0C, 0x30, 0xE1, 0x2E, 0xB9, 0x27, 0xBD}};
constexpr IID IID_IDictionary = {
    0x50DA50B3, 0x3CBD, 0x4D4A, {0xA4, 0x20, 0x4C, 0x1E, 0xD1, 0x76, 0x0D, 0xDF}};
constexpr CLSID CLSID_Dictionary = {
    0xD4584D93, 0x0141, 0x4A8D, {0x92, 0x5D, 0xA5, 0xE9, 0x9E, 0x05, 0xE1, 0x42}};
constexpr CLSID CLSID_EnumImages = {
    0x61E853F9, 0xEB9C, 0x43E4, {0x89, 0x98, 0xAE, 0x46, 0x55, 0xD6, 0x5C, 0xC7}};
constexpr CLSID CLSID_ImagesCollection = {
    0x999D6F1E, 0x0AF5, 0x4879, {0x91, 0x63, 0xCE, 0xDD, 0x75, 0x3E, 0x72, 0x79}};

// The collection's own numbering of image formats (7 is unused). An Image keeps the
// value it was loaded with, whatever it is.
enum EZImageFormat : LONG {
  EZJpeg = 0,
  EZGif = 1,
  EZTif = 2,
  EZWmf = 3,
  EZBmp = 4,
  EZPcx = 5,
  EZPng = 6,
  EZPsd = 8,
  EZWebp = 9,
  EZAvif = 10,
};

class IDictionary : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IDictionary;
  virtual HRESULT get_Item(VARIANT key, VARIANT* item) = 0;
  virtual HRESULT put_Item(VARIANT key, VARIANT item) = 0;
  virtual HRESULT putref_Item(VARIANT key, VARIANT item) = 0;
  virtual HRESULT Add(VARIANT key, VARIANT item) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT Exists(VARIANT key, VARIANT_BOOL* exists) = 0;
  virtual HRESULT Items(VARIANT* items) = 0;
  virtual HRESULT put_Key(VARIANT key, VARIANT item) = 0;
  virtual HRESULT Keys(VARIANT* keys) = 0;
  virtual HRESULT Remove(VARIANT key) = 0;
  virtual HRESULT RemoveAll() = 0;
  virtual HRESULT LoadItems(VARIANT fileName, VARIANT delimiter) = 0;
  virtual HRESULT _NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IDictionary() = default;
};

class IImage : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IImage;
  virtual HRESULT get_Image(VARIANT* bytes) = 0;
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT get_Ordinal(LONG* ordinal) = 0;
  virtual HRESULT get_Format(EZImageFormat* format) = 0;

 protected:
  ~IImage() = default;
};

class IImages : public IDispatch {
 public:
  using Base = IDispatch;
  static constexpr const IID& kIid = IID_IImages;
  virtual HRESULT get_Item(VARIANT key, IImage** image) = 0;
  virtual HRESULT LoadImage(VARIANT name, VARIANT source, EZImageFormat format) = 0;
  virtual HRESULT get_Count(LONG* count) = 0;
  virtual HRESULT get_ChunkSize(LONG* chunkSize) = 0;
  virtual HRESULT put_ChunkSize(LONG chunkSize) = 0;
  virtual HRESULT SaveImage(VARIANT key, VARIANT destination, VARIANT* result) = 0;
  virtual HRESULT Remove(VARIANT key) = 0;
  virtual HRESULT RemoveAll() = 0;
  virtual HRESULT Exists(VARIANT key, VARIANT_BOOL* exists) = 0;
  virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;

 protected:
  ~IImages() = default;
};

}  // namespace vellumset
