#include "canvas.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace brenvik::testing {

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dc_ = ::CreateCompatibleDC(nullptr);
  bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<uint32_t*>(bits);
  old_ = ::SelectObject(dc_, bitmap_);
  Fill(fill);
}

Canvas::~Canvas() {
  ::SelectObject(dc_, old_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(dc_);
}

COLORREF Canvas::At(int x, int y) const {
  ::GdiFlush();
  uint32_t p = bits_[size_t(y) * size_t(width_) + size_t(x)];
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

void Canvas::Fill(COLORREF c) {
  ::GdiFlush();
  uint32_t p = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
  std::fill(bits_, bits_ + size_t(width_) * size_t(height_), p);
}

RECT Canvas::BoundsOf(COLORREF colour) const {
  RECT r{width_, height_, 0, 0};
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (At(x, y) == colour) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r.right ? r : RECT{0, 0, 0, 0};
}

bool Canvas::SameAs(const Canvas& other) const {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (At(x, y) != other.At(x, y)) return false;
  return true;
}

HFONT TestFont() {
  static HFONT font = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
  return font;
}

painting::ControlSurface Surface(const Canvas& canvas, DWORD style, const std::wstring& caption,
                                 HICON icon) {
  painting::ControlSurface s;
  s.dc = canvas.Dc();
  s.width = canvas.Width();
  s.height = canvas.Height();
  s.style = style;
  s.caption = caption;
  s.font = TestFont();
  s.smallIcon = icon;
  return s;
}

HICON SolidIcon(int half, COLORREF colour) {
  const int size = 2 * half;
  Canvas image(size, size, colour);
  HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);  // all 0: opaque
  HDC maskDc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(maskDc, mask);
  ::PatBlt(maskDc, 0, 0, size, size, BLACKNESS);
  ::SelectObject(maskDc, old);
  ::DeleteDC(maskDc);
  HBITMAP colourBitmap = ::CreateCompatibleBitmap(image.Dc(), size, size);
  HDC dc = ::CreateCompatibleDC(image.Dc());
  old = ::SelectObject(dc, colourBitmap);
  ::BitBlt(dc, 0, 0, size, size, image.Dc(), 0, 0, SRCCOPY);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ICONINFO info{TRUE, DWORD(half), DWORD(half), mask, colourBitmap};
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(mask);
  ::DeleteObject(colourBitmap);
  return icon;
}

bool Near(COLORREF a, COLORREF b) {
  const int tolerance = 1;
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

COLORREF Mix(COLORREF a, COLORREF b, int num, int den) {
  auto mix = [&](int u, int v) { return u + (v - u) * num / den; };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
             mix(GetBValue(a), GetBValue(b)));
}

std::string Hex(COLORREF c) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06lX", static_cast<unsigned long>(c & 0xFFFFFF));
  return text;
}

}  // namespace brenvik::testing
