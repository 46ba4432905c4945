// A 32-bpp DIB section to paint controls into, and the pixel checks the tests share.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "painting/control_surface.h"

namespace brenvik::testing {

class Canvas {
 public:
  Canvas(int width, int height, COLORREF fill = 0x00FF00FF);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC Dc() const { return dc_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  COLORREF At(int x, int y) const;
  void Fill(COLORREF colour);
  // The smallest rectangle holding every pixel of `colour`; empty when there is none.
  RECT BoundsOf(COLORREF colour) const;
  bool SameAs(const Canvas& other) const;

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// An aliased Tahoma, so caption pixels are exactly the text colour.
HFONT TestFont();

// A control of the canvas's size drawn on it.
painting::ControlSurface Surface(const Canvas& canvas, DWORD style, const std::wstring& caption,
                                 HICON icon = nullptr);

// A square icon of one colour, 2 * half pixels wide.
HICON SolidIcon(int half, COLORREF colour);

// Colours at most 1 apart in each channel: GDI rounds gradients either way.
bool Near(COLORREF a, COLORREF b);
// a + (b - a) * num / den, channel by channel.
COLORREF Mix(COLORREF a, COLORREF b, int num, int den);
std::string Hex(COLORREF c);

}  // namespace brenvik::testing

#define EXPECT_COLOUR(actual, expected) \
  EXPECT_PRED2(::brenvik::testing::Near, actual, expected) << Hex(actual) << " vs " << Hex(expected)
