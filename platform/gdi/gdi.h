// The graphics device interface subset: a fixed reference "screen", memory device
// contexts drawing onto bitmaps, pens, brushes, fonts, bitmaps and palettes,
// enhanced and Windows metafiles. The calls keep the shapes and results of the
// platform interface they stand in for; failures return 0 (or null, or FALSE).
//
// Handles come from the layer's own tables and are never reused, so a deleted or
// foreign handle is refused. Objects may be used from any thread; one device
// context is used by one thread at a time.
#pragma once

#include "platform/gdi/gdi_types.h"

// ---- the reference device and device contexts ----

// GetDC(nullptr) is the reference screen: 1920 x 1080 pixels of 0.25 mm
// (480 x 270 mm), 32 bits per pixel, 96 logical pixels per inch.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// A memory device context; its initial bitmap is a 1 x 1 monochrome one, so its
// compatible bitmaps are monochrome until a colour bitmap is selected.
HDC CreateCompatibleDC(HDC reference);
BOOL DeleteDC(HDC dc);
int GetDeviceCaps(HDC dc, int index);

int SaveDC(HDC dc);
BOOL RestoreDC(HDC dc, int saved);

int SetMapMode(HDC dc, int mode);
int GetMapMode(HDC dc);
BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* previous);
BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* previous);
BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* previous);
BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* previous);
int SetGraphicsMode(HDC dc, int mode);
BOOL SetWorldTransform(HDC dc, const XFORM* transform);
BOOL ModifyWorldTransform(HDC dc, const XFORM* transform, DWORD mode);
BOOL LPtoDP(HDC dc, POINT* points, int count);
BOOL DPtoLP(HDC dc, POINT* points, int count);

COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
int SetPolyFillMode(HDC dc, int mode);
int SetROP2(HDC dc, int mode);
UINT SetTextAlign(HDC dc, UINT align);
int SetArcDirection(HDC dc, int direction);

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
int ExcludeClipRect(HDC dc, int left, int top, int right, int bottom);

// ---- objects ----

HGDIOBJ GetStockObject(int index);
HPEN CreatePen(int style, int width, COLORREF color);
HPEN CreatePenIndirect(const LOGPEN* pen);
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int hatch, COLORREF color);
HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
// Face names and texts are in the "ANSI code page", UTF-8 on this platform.
HFONT CreateFontIndirectA(const LOGFONTA* font);
HPALETTE CreatePalette(const void* logPalette);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
int GetObjectA(HGDIOBJ object, int size, void* buffer);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL background);
UINT RealizePalette(HDC dc);

// The largest bitmap the layer makes: sides up to 32766 pixels and at most
// 64 million pixels in all. Larger requests fail. (cairo composites nothing onto a
// surface 32767 pixels wide, so such a bitmap would silently stay blank.)
constexpr int kMaxBitmapSide = 32766;
constexpr long long kMaxBitmapPixels = 64LL * 1024 * 1024;

// ---- drawing ----

int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL Polygon(HDC dc, const POINT* points, int count);
BOOL Polyline(HDC dc, const POINT* points, int count);
BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);
BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop);
BOOL StretchBlt(HDC dc, int x, int y, int width, int height, HDC source, int xSrc, int ySrc,
                int srcWidth, int srcHeight, DWORD rop);
// Both return the number of scan lines drawn (0 on failure).
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop);
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT usage);
// With bits null, fills in the header (and biSizeImage) only. Returns the number of
// scan lines copied (or TRUE for a header query), 0 on failure. Delivers 1, 24 or
// 32 bits per pixel.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT usage);

// ---- text ----

BOOL TextOutA(HDC dc, int x, int y, const char* text, int length);
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, const WCHAR* text,
                 UINT length, const INT* dx);
BOOL GetTextExtentPointA(HDC dc, const char* text, int length, SIZE* size);
// Lays text out in a rectangle (logical units) with the selected font, one line
// under the other from the rectangle's top left, and draws it clipped to the
// rectangle (DT_NOCLIP: unclipped). Lines break only at CR, LF and CR LF; with
// DT_SINGLELINE those are left out. Without DT_NOPREFIX "&x" underlines x and "&&"
// is "&". DT_WORD_ELLIPSIS cuts a line wider than the rectangle after its last
// word that fits with "..." (inside the first word when none does). DT_CALCRECT
// draws nothing and sets the rectangle's right and bottom to bound the text.
// Returns the text's height, 0 on failure. Other formats, and any params, are
// refused. A length of -1 means a zero-terminated text.
int DrawTextExA(HDC dc, const char* text, int length, RECT* rect, UINT format,
                DRAWTEXTPARAMS* params);

// ---- enhanced metafiles ----

HENHMETAFILE GetEnhMetaFileA(const char* fileName);
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bits);
UINT GetEnhMetaFileBits(HENHMETAFILE metafile, UINT size, BYTE* buffer);
UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, UINT size, ENHMETAHEADER* header);
BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE metafile, const RECT* rect);
BOOL DeleteEnhMetaFile(HENHMETAFILE metafile);

// Recording: the device context records the calls made on it (mapping state,
// StretchDIBits and SetDIBitsToDevice) until CloseEnhMetaFile. Recording into a
// file is not offered: fileName must be null.
HDC CreateEnhMetaFileA(HDC reference, const char* fileName, const RECT* frame,
                       const char* description);
HENHMETAFILE CloseEnhMetaFile(HDC dc);

// ---- Windows metafiles ----

HMETAFILE GetMetaFileA(const char* fileName);
UINT GetMetaFileBitsEx(HMETAFILE metafile, UINT size, void* buffer);
BOOL DeleteMetaFile(HMETAFILE metafile);
// Converts Windows-metafile bits to an enhanced metafile. The picture's frame is
// the METAFILEPICT's x and y extents (0.01 mm) when both are positive, otherwise
// the metafile's own window extent taken as reference-device pixels.
HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* bits, HDC reference,
                                const METAFILEPICT* picture);
// Converts an enhanced metafile to Windows-metafile bits in device units of the
// picture; with a null buffer, returns the size needed.
UINT GetWinMetaFileBits(HENHMETAFILE metafile, UINT size, BYTE* buffer, int mapMode, HDC reference);
