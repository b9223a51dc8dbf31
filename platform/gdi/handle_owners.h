// Owners of GDI handles for the layer's callers: each releases what it holds when
// its scope ends, so every path out of a drawing routine frees its objects.
#pragma once

#include <utility>

#include "platform/gdi/gdi.h"

namespace gdi {

// The reference screen's device context, released at the end of the scope.
class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// A handle passed to `Release` at the end of the scope unless handed out first.
template <typename Handle, auto Release>
class Owned {
 public:
  explicit Owned(Handle handle = nullptr) : handle_(handle) {}
  ~Owned() {
    if (handle_ != nullptr) Release(handle_);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Handle Get() const { return handle_; }
  Handle Take() { return std::exchange(handle_, nullptr); }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle handle_;
};

using OwnedDc = Owned<HDC, DeleteDC>;
using OwnedObject = Owned<HGDIOBJ, DeleteObject>;
using OwnedEnhMetaFile = Owned<HENHMETAFILE, DeleteEnhMetaFile>;
using OwnedMetaFile = Owned<HMETAFILE, DeleteMetaFile>;

// Keeps an object selected into a context until the scope ends, then puts the
// previous selection back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  bool Ok() const { return previous_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace gdi
