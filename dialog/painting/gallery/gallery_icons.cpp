#include "gallery_icons.h"

#include <initializer_list>

namespace brenvik::gallery {
namespace {

constexpr int kSize = 16;

void Fill(HDC dc, RECT r, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &r, brush);
  ::DeleteObject(brush);
}

// Draws the handset's shape: body, screen and three keys.
void DrawHandset(HDC dc, COLORREF body, COLORREF screen, COLORREF keys) {
  Fill(dc, {3, 0, 13, 16}, body);
  Fill(dc, {5, 2, 11, 8}, screen);
  for (int x : {5, 7, 9}) Fill(dc, {x, 10, x + 2, 12}, keys);
  Fill(dc, {5, 13, 11, 14}, keys);
}

}  // namespace

HICON MakeHandsetIcon(bool disabled) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP colour = ::CreateCompatibleBitmap(screen, kSize, kSize);
  HBITMAP mask = ::CreateBitmap(kSize, kSize, 1, 1, nullptr);
  ::ReleaseDC(nullptr, screen);

  // Mask: white (1) lets the background through, black (0) is the icon.
  HGDIOBJ old = ::SelectObject(dc, mask);
  Fill(dc, {0, 0, kSize, kSize}, 0xFFFFFF);
  Fill(dc, {3, 0, 13, 16}, 0x000000);
  // Colour: black outside the shape, so it leaves the background as it is.
  ::SelectObject(dc, colour);
  Fill(dc, {0, 0, kSize, kSize}, 0x000000);
  if (disabled)
    DrawHandset(dc, 0xA0A0A0, 0xE0E0E0, 0xC8C8C8);
  else
    DrawHandset(dc, 0x743C00, 0xF7CBAD, 0x05A0EB);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);

  ICONINFO info{TRUE, kSize / 2, kSize / 2, mask, colour};
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(mask);
  ::DeleteObject(colour);
  return icon;
}

}  // namespace brenvik::gallery
