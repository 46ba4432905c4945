// The push button's strip, band, face, outline, focus rectangle, icon and caption.
#include <gtest/gtest.h>

#include "canvas.h"

namespace brenvik {
namespace {

using testing::Canvas;
using testing::Hex;
using testing::Mix;
using testing::SolidIcon;
using testing::Surface;

constexpr COLORREF kBlack = 0x000000, kGrey = 0x94A2A5, kIcon = 0xFF00FF;
constexpr int W = 80, H = 26;

void Draw(const Canvas& canvas, DWORD state, DWORD style = 0, const std::wstring& caption = L"",
          HICON icon = nullptr, HICON disabledIcon = nullptr) {
  FlatControl control{nullptr, state, disabledIcon};
  painting::DrawPushButton(control, Surface(canvas, style, caption, icon));
}

TEST(PushButton, BandAndFaceFollowTheStates) {
  struct Case {
    DWORD state, style;
    COLORREF bandTop, bandBottom, faceTop, faceBottom;
    int faceLeft;
  } cases[] = {
      {0, 0, 0xFFFFFF, 0xD6DFE2, 0xFBFCFC, 0xE6EBEC, 2},
      {FLAT_FOCUSED, 0, 0x05A0EB, 0x49C0FB, 0xFBFCFC, 0xE6EBEC, 4},
      {FLAT_DEFAULT, 0, 0x05A0EB, 0x49C0FB, 0xFBFCFC, 0xE6EBEC, 4},
      {FLAT_DEFAULT, BS_FLAT, 0x05A0EB, 0x49C0FB, 0x49C0FB, 0x05A0EB, 4},
      {FLAT_HOT, 0, 0xCFF0FF, 0x0097E5, 0xFBFCFC, 0xE6EBEC, 4},
      {FLAT_HOT | FLAT_FOCUSED, BS_FLAT, 0xCFF0FF, 0x0097E5, 0x49C0FB, 0x05A0EB, 4},
      {FLAT_PRESSED | FLAT_HOT | FLAT_FOCUSED, 0, 0xC1CCD1, 0xEEF1F2, 0xDDE4E5, 0xDAE2E2, 4},
      {FLAT_DISABLED | FLAT_HOT, 0, 0xEAF4F5, 0xEAF4F5, 0xEAF4F5, 0xEAF4F5, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "state " << c.state << " style " << c.style);
    Canvas canvas(W, H);
    Draw(canvas, c.state, c.style);
    EXPECT_COLOUR(canvas.At(W / 2, 2), c.bandTop);
    EXPECT_COLOUR(canvas.At(W / 2, H - 3), Mix(c.bandTop, c.bandBottom, H - 5, H - 4));
    EXPECT_COLOUR(canvas.At(W / 2, 4), c.faceTop);
    EXPECT_COLOUR(canvas.At(W / 2, H - 5), Mix(c.faceTop, c.faceBottom, H - 9, H - 8));
    // Column 2 is face when the face starts there, band otherwise.
    COLORREF left = c.faceLeft == 2 ? Mix(c.faceTop, c.faceBottom, H / 2 - 4, H - 8)
                                    : Mix(c.bandTop, c.bandBottom, H / 2 - 2, H - 4);
    EXPECT_COLOUR(canvas.At(2, H / 2), left);
    EXPECT_COLOUR(canvas.At(W - 3, H / 2), Mix(c.bandTop, c.bandBottom, H / 2 - 2, H - 4));
  }
}

// The strip of edge lines and outer gradient, skipped when disabled, and the two outlines.
TEST(PushButton, StripOutlineAndCorners) {
  struct Case {
    DWORD state;
    COLORREF leftEdge, bottomEdge, stripTop, light, dark;
  } cases[] = {
      {0, 0xCBDEE2, 0xF2F7F8, 0xC2D6DC, 0xA8957A, 0x743C00},
      {FLAT_PRESSED | FLAT_DEFAULT, 0xCBDEE2, 0xF2F7F8, 0xC2D6DC, 0xA8957A, 0x743C00},
      {FLAT_DISABLED, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xC7D5D8, 0xBAC7C9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H);
    Draw(canvas, c.state);
    for (POINT p : {POINT{0, 0}, POINT{W - 1, 0}, POINT{0, H - 1}, POINT{1, H - 1}, POINT{W - 1, H - 1}})
      EXPECT_EQ(canvas.At(p.x, p.y), g_flatBackground) << p.x << "," << p.y;
    for (int y : {1, H / 2, H - 2}) EXPECT_EQ(canvas.At(0, y), c.leftEdge) << y;
    for (int x : {2, W / 2, W - 2}) EXPECT_EQ(canvas.At(x, H - 1), c.bottomEdge) << x;
    EXPECT_COLOUR(canvas.At(W / 2, 0), c.stripTop);
    for (POINT p : {POINT{W / 2, 1}, POINT{1, H / 2}, POINT{W - 2, H / 2}, POINT{W / 2, H - 2}})
      EXPECT_EQ(canvas.At(p.x, p.y), c.dark) << p.x << "," << p.y;
    // The light outline survives only where the tighter corners leave it.
    for (POINT p : {POINT{2, 1}, POINT{1, 2}, POINT{W - 3, 1}, POINT{W - 2, 2}, POINT{2, H - 2},
                    POINT{1, H - 3}, POINT{W - 3, H - 2}, POINT{W - 2, H - 3}})
      EXPECT_EQ(canvas.At(p.x, p.y), c.light) << p.x << "," << p.y;
  }
}

TEST(PushButton, FocusRectangleRunsInsideTheBand) {
  Canvas focused(W, H), plain(W, H);
  Draw(focused, FLAT_FOCUSED, 0, L"Flash");
  Draw(plain, FLAT_DEFAULT, 0, L"Flash");  // same colours, no focus rectangle
  int changed = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (focused.At(x, y) != plain.At(x, y)) {
        ++changed;
        bool onBorder = (x == 3 || x == W - 4) ? (y >= 3 && y <= H - 4)
                                               : (y == 3 || y == H - 4) && x >= 3 && x <= W - 4;
        EXPECT_TRUE(onBorder) << x << "," << y;
      }
  EXPECT_GT(changed, W);  // dotted: every other pixel
}

TEST(PushButton, CaptionColourAndPressedOffset) {
  Canvas normal(W, H);
  Draw(normal, 0, 0, L"Flash");
  const RECT base = normal.BoundsOf(kBlack);
  ASSERT_GT(base.right, base.left);
  EXPECT_NEAR((base.left + base.right) / 2, W / 2, 2);  // centred both ways
  EXPECT_NEAR((base.top + base.bottom) / 2, H / 2, 2);
  struct Case {
    DWORD state;
    COLORREF colour, absent;
    int shift;
  } cases[] = {
      {FLAT_HOT | FLAT_DEFAULT, kBlack, kGrey, 0},
      {FLAT_PRESSED, kBlack, kGrey, 1},
      {FLAT_INDETERMINATE, kGrey, kBlack, 0},
      {FLAT_DISABLED | FLAT_PRESSED, kGrey, kBlack, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H);
    Draw(canvas, c.state, 0, L"Flash");
    RECT r = canvas.BoundsOf(c.colour);
    EXPECT_EQ(r.left, base.left + c.shift);
    EXPECT_EQ(r.top, base.top + c.shift);
    EXPECT_EQ(r.right, base.right + c.shift);
    EXPECT_EQ(canvas.BoundsOf(c.absent).right, 0);
  }
}

// A 16x16 icon (hot spot 8) on a 96x56 button; it keeps its own size.
TEST(PushButton, IconPlacementAndCaptionRoom) {
  constexpr int w = 96, h = 56;
  HICON icon = SolidIcon(8, kIcon), greyIcon = SolidIcon(8, 0x808000);
  struct Case {
    DWORD style, state;
    HICON disabledIcon;
    RECT iconAt;
    RECT captionWithin;
  } cases[] = {
      {0, 0, nullptr, {42, 4, 58, 20}, {0, 20, w, h}},
      {BS_CENTER, 0, nullptr, {4, 4, 20, 20}, {18, 20, 60, h}},  // left text, icon left
      {BS_LEFT, 0, nullptr, {76, 4, 92, 20}, {0, 20, 78, h}},
      {BS_RIGHT, 0, nullptr, {4, 4, 20, 20}, {18, 20, w, h}},
      {BS_VCENTER, 0, nullptr, {42, 36, 58, 52}, {0, 0, w, 16}},  // top text, icon low
      {BS_BOTTOM, 0, nullptr, {42, 20, 58, 36}, {0, 36, w, h}},
      {0, FLAT_DISABLED, nullptr, {0, 0, 0, 0}, {0, 20, w, h}},  // no disabled icon, no icon
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "style 0x" << std::hex << c.style << " state " << c.state);
    Canvas canvas(w, h);
    Draw(canvas, c.state, c.style, L"Go", icon, c.disabledIcon);
    RECT r = canvas.BoundsOf(kIcon);
    EXPECT_TRUE(EqualRect(&r, &c.iconAt)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    RECT text = canvas.BoundsOf(c.state ? kGrey : kBlack), inside{};
    ASSERT_GT(text.right, 0);
    IntersectRect(&inside, &text, &c.captionWithin);
    EXPECT_TRUE(EqualRect(&inside, &text)) << text.left << "," << text.top << "," << text.right
                                           << "," << text.bottom;
  }
  // Disabled, the record's icon replaces the window's; an empty caption still gets the icon.
  Canvas disabled(w, h), empty(w, h);
  Draw(disabled, FLAT_DISABLED, 0, L"Go", icon, greyIcon);
  RECT grey = disabled.BoundsOf(0x808000), expected{42, 4, 58, 20};
  EXPECT_TRUE(EqualRect(&grey, &expected));
  EXPECT_EQ(disabled.BoundsOf(kIcon).right, 0);
  Draw(empty, 0, 0, L"", icon);
  RECT shown = empty.BoundsOf(kIcon);
  EXPECT_TRUE(EqualRect(&shown, &expected));
  EXPECT_EQ(empty.BoundsOf(kBlack).right, 0);
  EXPECT_COLOUR(empty.At(w / 2, h - 8), Mix(0xFBFCFC, 0xE6EBEC, h - 12, h - 8));
  DestroyIcon(icon);
  DestroyIcon(greyIcon);
}

}  // namespace
}  // namespace brenvik
