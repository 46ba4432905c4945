// Check boxes and radio buttons: box, gradients, inner square, mark, dot, caption, focus.
#include <gtest/gtest.h>

#include <algorithm>

#include "canvas.h"

namespace brenvik {
namespace {

using testing::Canvas;
using testing::Hex;
using testing::Surface;

constexpr COLORREF kFrame = 0x845118, kGreen = 0x21A221, kPale = 0xBDCBCE;
constexpr int W = 80, H = 17;

using Painter = void (*)(const FlatControl&, const painting::ControlSurface&);

void Draw(Painter paint, const Canvas& canvas, DWORD state, DWORD style = 0,
          const std::wstring& caption = L"") {
  paint(FlatControl{nullptr, state, nullptr}, Surface(canvas, style, caption));
}

COLORREF DisabledFrame() { return painting::DimColour(GetSysColor(COLOR_BTNFACE)); }

// Box {0, 2, 13, 15} on a 17-pixel control: frame, 11x11 gradient, 7x7 inner square at (3, 5).
TEST(CheckBox, BoxColoursFollowTheStates) {
  const COLORREF kNone = 0xFFFFFFFF;
  struct Case {
    DWORD state, style;
    POINT frameAt;
    COLORREF frame, gradient, inner;
  } cases[] = {
      {0, 0, {0, 2}, kFrame, g_flatGradients[2][0], kNone},
      {FLAT_HOT, 0, {12, 14}, kFrame, g_flatGradients[1][0], 0xE7E7E7},
      {FLAT_HOT | FLAT_CHECKED, 0, {0, 14}, kFrame, g_flatGradients[1][0], 0xF7F7F7},
      {FLAT_PRESSED | FLAT_HOT, 0, {0, 2}, kFrame, g_flatGradients[0][0], kNone},
      {FLAT_DISABLED | FLAT_HOT, 0, {0, 2}, DisabledFrame(), 0xFFFFFF, 0xE7E7E7},
      {FLAT_INDETERMINATE, 0, {0, 2}, kFrame, g_flatGradients[2][0], 0x73C373},
      {FLAT_INDETERMINATE | FLAT_HOT, 0, {0, 2}, kFrame, g_flatGradients[1][0], kGreen},
      {FLAT_INDETERMINATE | FLAT_PRESSED, 0, {0, 2}, kFrame, g_flatGradients[0][0], 0x188A18},
      {FLAT_INDETERMINATE | FLAT_DISABLED, 0, {0, 2}, DisabledFrame(), 0xFFFFFF, kPale},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H);
    Draw(painting::DrawCheckBox, canvas, c.state, c.style, L"Auto");
    EXPECT_EQ(canvas.At(c.frameAt.x, c.frameAt.y), c.frame);
    EXPECT_COLOUR(canvas.At(1, 3), c.gradient);
    if (c.inner != kNone) EXPECT_EQ(canvas.At(3, 5), c.inner) << Hex(canvas.At(3, 5));
    EXPECT_EQ(canvas.At(14, 0), g_flatBackground);
  }
}

TEST(CheckBox, MarkIsSevenStrokes) {
  constexpr int kRise[7] = {2, 3, 4, 3, 2, 1, 0};
  struct Case {
    DWORD state;
    COLORREF mark, inner;
  } cases[] = {
      {FLAT_CHECKED, kGreen, 0},
      {FLAT_CHECKED | FLAT_DISABLED, kPale, 0xFFFFFF},
      {FLAT_CHECKED | FLAT_INDETERMINATE, kGreen, 0x73C373},  // the mark over the green square
      {FLAT_CHECKED | FLAT_HOT, kGreen, 0xF7F7F7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H);
    Draw(painting::DrawCheckBox, canvas, c.state);
    for (int i = 0; i < 7; ++i)
      for (int row = 0; row < 7; ++row) {
        bool stroke = row >= kRise[i] && row < kRise[i] + 3;
        COLORREF p = canvas.At(3 + i, 5 + row);
        if (stroke) EXPECT_EQ(p, c.mark) << i << "," << row;
        else if (c.inner) EXPECT_EQ(p, c.inner) << i << "," << row;
        else EXPECT_NE(p, c.mark) << i << "," << row;
      }
  }
  // Checked, indeterminate and disabled: mark and square are one colour.
  Canvas pale(W, H);
  Draw(painting::DrawCheckBox, pale, FLAT_CHECKED | FLAT_INDETERMINATE | FLAT_DISABLED);
  RECT r = pale.BoundsOf(kPale), square{3, 5, 10, 12};
  EXPECT_TRUE(EqualRect(&r, &square));
}

TEST(CheckBox, LeftTextAndLowControlsMoveTheBox) {
  Canvas left(W, H);
  Draw(painting::DrawCheckBox, left, FLAT_HOT, BS_LEFTTEXT, L"Auto");
  EXPECT_EQ(left.At(W - 13, 2), kFrame);
  EXPECT_EQ(left.At(W - 1, 14), kFrame);
  EXPECT_EQ(left.At(W - 10, 5), 0xE7E7E7u);
  EXPECT_EQ(left.At(0, 2), g_flatBackground);
  RECT text = left.BoundsOf(GetSysColor(COLOR_BTNTEXT));
  EXPECT_LT(text.left, 3);
  // Ten pixels high: the box starts at (10 - 13) / 2 = -1, truncated toward zero.
  Canvas low(W, 10);
  Draw(painting::DrawCheckBox, low, FLAT_HOT);
  EXPECT_EQ(low.At(0, 0), kFrame);
  EXPECT_EQ(low.At(3, 2), 0xE7E7E7u);
  EXPECT_NE(low.At(3, 1), 0xE7E7E7u);
}

// Rows and columns where two drawings differ.
struct Changes {
  RECT bounds{1 << 30, 1 << 30, -1, -1};
  int count = 0;
};
Changes Compare(const Canvas& a, const Canvas& b) {
  Changes c;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.At(x, y) != b.At(x, y)) {
        ++c.count;
        c.bounds = {std::min<LONG>(c.bounds.left, x), std::min<LONG>(c.bounds.top, y),
                    std::max<LONG>(c.bounds.right, x + 1), std::max<LONG>(c.bounds.bottom, y + 1)};
      }
  return c;
}

// The caption ignores the alignment bits: left-aligned, single-line, in a rectangle from
// the top that DrawText measured.
TEST(CheckBox, CaptionIgnoresAlignmentAndGetsItsFocusRectangle) {
  constexpr int h = 30;
  RECT first{};
  for (DWORD style : {DWORD(0), DWORD(BS_RIGHT | BS_BOTTOM), DWORD(BS_CENTER | BS_VCENTER)}) {
    SCOPED_TRACE(style);
    Canvas canvas(W, h);
    Draw(painting::DrawCheckBox, canvas, 0, style, L"Auto");
    RECT r = canvas.BoundsOf(GetSysColor(COLOR_BTNTEXT));
    EXPECT_GE(r.left, 18);
    EXPECT_LE(r.left, 20);
    if (!first.right) first = r;
    EXPECT_TRUE(EqualRect(&r, &first));
  }
  Canvas focused(W, h), plain(W, h), grey(W, h);
  Draw(painting::DrawCheckBox, focused, FLAT_FOCUSED, 0, L"Auto");
  Draw(painting::DrawCheckBox, plain, 0, 0, L"Auto");
  Draw(painting::DrawCheckBox, grey, FLAT_DISABLED, 0, L"Auto");
  Changes focus = Compare(focused, plain);
  EXPECT_GT(focus.count, 20);
  EXPECT_EQ(focus.bounds.left, 18);  // around the measured text, one row in from the top
  EXPECT_EQ(focus.bounds.top, 1);
  EXPECT_LT(focus.bounds.right, first.right + 3);
  EXPECT_GT(focus.bounds.bottom, first.bottom);
  EXPECT_GT(grey.BoundsOf(GetSysColor(COLOR_GRAYTEXT)).right, 18);
}

// Radio square {0, 1, 15, 16} on a 17-pixel control; circle outline from (2, 3).
TEST(RadioButton, SquareRingsAndDot) {
  const COLORREF dot = testing::Mix(0x21A221, 0x187A18, 5, 11), kAny = 0xFFFFFFFF;
  struct Case {
    DWORD state;
    COLORREF corner;
    bool wideRing;  // white around the circle; left out under the mouse
    COLORREF centre, outline;
  } cases[] = {
      {0, 0xFFFFFF, true, 0xFFFFFF, kFrame},  // no gradient: the background shows
      {FLAT_HOT, g_flatGradients[4][0], false, 0xE7E7E7, kFrame},
      {FLAT_PRESSED, g_flatGradients[3][0], true, kAny, kFrame},
      {FLAT_PRESSED | FLAT_HOT, g_flatGradients[3][0], false, kAny, kFrame},
      {FLAT_CHECKED, 0xFFFFFF, true, dot, kFrame},
      {FLAT_DISABLED | FLAT_CHECKED, 0xFFFFFF, true, dot, DisabledFrame()},
      {FLAT_INDETERMINATE, 0xFFFFFF, true, 0x73C373, kFrame},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H);
    Draw(painting::DrawRadioButton, canvas, c.state, 0, L"Go");
    EXPECT_COLOUR(canvas.At(0, 1), c.corner);
    EXPECT_EQ(canvas.At(1, 8) == g_flatBackground, c.wideRing) << Hex(canvas.At(1, 8));
    if (c.centre != kAny) EXPECT_COLOUR(canvas.At(7, 8), c.centre);
    for (POINT p : {POINT{2, 8}, POINT{12, 8}, POINT{7, 3}, POINT{7, 13}})
      EXPECT_EQ(canvas.At(p.x, p.y), c.outline) << p.x << "," << p.y;
    // Checked: white rings between the outline and the dot.
    if (c.state & FLAT_CHECKED)
      for (POINT p : {POINT{3, 8}, POINT{4, 8}, POINT{10, 8}, POINT{11, 8}})
        EXPECT_EQ(canvas.At(p.x, p.y), g_flatBackground) << p.x << "," << p.y;
  }
  Canvas left(W, H);
  Draw(painting::DrawRadioButton, left, 0, BS_LEFTTEXT, L"Go");
  EXPECT_EQ(left.At(W - 13, 8), kFrame);
  EXPECT_EQ(left.At(2, 8), g_flatBackground);
}

// The radio caption follows the style's alignment in the area beside the circle.
TEST(RadioButton, CaptionAlignmentAndFocus) {
  constexpr int h = 30;
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  Canvas centred(W, h), left(W, h), focused(W, h);
  Draw(painting::DrawRadioButton, centred, 0, 0, L"Go");
  Draw(painting::DrawRadioButton, left, 0, BS_LEFT | BS_TOP, L"Go");
  Draw(painting::DrawRadioButton, focused, FLAT_FOCUSED, 0, L"Go");
  RECT c = centred.BoundsOf(text), l = left.BoundsOf(text);
  EXPECT_NEAR((c.left + c.right) / 2, (15 + W) / 2, 2);
  EXPECT_NEAR((c.top + c.bottom) / 2, h / 2, 2);
  EXPECT_LE(l.left, 17);
  EXPECT_LE(l.top, 3);
  Changes focus = Compare(focused, centred);  // the whole area beside the circle, less 1
  EXPECT_EQ(focus.bounds.left, 16);
  EXPECT_EQ(focus.bounds.top, 1);
  EXPECT_EQ(focus.bounds.right, W - 1);
  EXPECT_EQ(focus.bounds.bottom, h - 1);
}

// No caption: the box alone, and no focus rectangle.
TEST(Boxes, EmptyCaptionDrawsNoTextAndNoFocusRectangle) {
  for (Painter paint : {Painter(painting::DrawCheckBox), Painter(painting::DrawRadioButton)}) {
    Canvas focused(W, H), plain(W, H);
    Draw(paint, focused, FLAT_FOCUSED | FLAT_CHECKED);
    Draw(paint, plain, FLAT_CHECKED);
    EXPECT_TRUE(focused.SameAs(plain));
    for (int x = 16; x < W; ++x) EXPECT_EQ(focused.At(x, H / 2), g_flatBackground) << x;
  }
}

}  // namespace
}  // namespace brenvik
