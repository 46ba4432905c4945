// The button format rules, the dimmed frame colour, the gradient fill, and painters given
// no window.
#include <gtest/gtest.h>

#include "canvas.h"

namespace brenvik {
namespace {

using painting::DimColour;
using testing::Canvas;
using testing::Hex;

TEST(ButtonStyleToTextFormat, TestsEachAlignmentBitOnItsOwn) {
  struct Case {
    DWORD style;
    UINT format;
  } cases[] = {
      {0, 0x8025},
      {BS_LEFT, 0x8024},
      {BS_CENTER, 0x8024},  // BS_LEFT is tested first
      {BS_RIGHT, 0x8026},
      {BS_TOP, 0x8021},
      {BS_VCENTER, 0x8021},
      {BS_BOTTOM, 0x8029},
      {BS_MULTILINE, 0x8025},  // the vertical centre brings single-line back
      {BS_MULTILINE | BS_TOP, 0x8001},
      {BS_MULTILINE | BS_BOTTOM, 0x8009},
      {BS_MULTILINE | BS_TOP | BS_LEFT, 0x8000},
      {BS_AUTOCHECKBOX | BS_LEFTTEXT | BS_FLAT | WS_CHILD | WS_TABSTOP, 0x8025},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ButtonStyleToTextFormat(c.style), c.format) << std::hex << "style 0x" << c.style;
}

TEST(DimColour, DarkensEachChannelAndStopsAtZero) {
  struct Case {
    COLORREF face, dimmed;
  } cases[] = {
      {0xC0C0C0, 0xA0A0A0},
      {0xD8E9EC, 0xB8C9CC},
      {0xF0F0F0, 0xD0D0D0},
      {0x000000, 0x000000},  // a plain subtraction would give 0xFFDFDFE0
      {0x10F040, 0x00D020},  // and here would borrow from blue into green
      {0x202020, 0x000000},
  };
  for (const auto& c : cases) EXPECT_EQ(DimColour(c.face), c.dimmed) << Hex(c.face);
}

// base + (toU - base) * u + (toV - base) * v, channel by channel, truncated.
COLORREF Plane(COLORREF base, COLORREF toU, double u, COLORREF toV, double v) {
  auto channel = [&](int shift) {
    int b = (base >> shift) & 0xFF, p = (toU >> shift) & 0xFF, q = (toV >> shift) & 0xFF;
    return COLORREF(int(b + (p - b) * u + (q - b) * v)) << shift;
  };
  return channel(0) | channel(8) | channel(16);
}

// Rows of g_flatGradients and four distinct corners. GDI interpolates at each pixel's own
// coordinates: the upper triangle from the top-left corner, the lower from the bottom-right.
TEST(FillGradientQuad, ShadesFromEachCornerAndLeavesTheRestAlone) {
  const COLORREF mixed[4] = {0x000000, 0x0000FF, 0xFF0000, 0x00FF00};
  const COLORREF* cases[] = {g_flatGradients[6], g_flatGradients[2], g_flatGradients[1], mixed};
  const RECT r{2, 3, 22, 19};
  const double w = 20, h = 16;
  for (const COLORREF* k : cases) {
    SCOPED_TRACE(Hex(k[0]) + " " + Hex(k[1]) + " " + Hex(k[2]) + " " + Hex(k[3]));
    Canvas canvas(26, 22, 0x123456);
    EXPECT_TRUE(FillGradientQuad(canvas.Dc(), r, k));
    EXPECT_COLOUR(canvas.At(r.left, r.top), k[0]);
    EXPECT_COLOUR(canvas.At(r.right - 1, r.top), Plane(k[0], k[1], (w - 1) / w, k[2], 0));
    EXPECT_COLOUR(canvas.At(r.left, r.bottom - 1), Plane(k[0], k[1], 0, k[2], (h - 1) / h));
    // Equal pairs make one vertical fill, which is also what the triangles would give.
    EXPECT_COLOUR(canvas.At(r.right - 1, r.bottom - 1), Plane(k[3], k[2], 1 / w, k[1], 1 / h));
    if (k[1] == k[2]) {  // the triangles meet along the top-right to bottom-left diagonal
      for (int i : {5, 10, 15})
        EXPECT_COLOUR(canvas.At(r.left + i, r.top + int(h * (w - i) / w)), k[1]) << i;
    }
    for (POINT p : {POINT{1, 3}, POINT{2, 2}, POINT{22, 10}, POINT{10, 19}})
      EXPECT_EQ(canvas.At(p.x, p.y), 0x123456u) << p.x << "," << p.y;
  }
}

// A record without a live window, or none at all, draws nowhere: GetWindowDC(NULL) is the
// screen.
TEST(Painters, WithoutAWindowDrawNothing) {
  const HWND bogus = reinterpret_cast<HWND>(0x4321);
  for (HWND window : {HWND(nullptr), bogus}) {
    FlatControl control{window, FLAT_FOCUSED | FLAT_CHECKED, nullptr};
    for (FlatPainter paint : g_flatPainters) {
      paint(&control);
      paint(nullptr);
    }
    Canvas canvas(40, 20, 0x00ABCDEF);
    DrawButtonIconAndCaption(&control, canvas.Dc(), RECT{0, 0, 40, 20});
    EXPECT_EQ(canvas.BoundsOf(0x00ABCDEF).right, 40);
    EXPECT_EQ(canvas.BoundsOf(0x00ABCDEF).bottom, 20);

    PaintBuffer buffer{window, nullptr, nullptr, 1, nullptr};
    HDC dc = BeginPaintBuffer(&buffer);
    EXPECT_NE(dc, nullptr);
    EXPECT_EQ(buffer.windowDC, nullptr);
    EndPaintBuffer(&buffer);
  }
}

}  // namespace
}  // namespace brenvik
