// Group boxes and static text, drawn on the control's own DC.
#include <gtest/gtest.h>

#include "canvas.h"

namespace brenvik {
namespace {

using testing::Canvas;
using testing::Surface;

constexpr COLORREF kSurface = 0x00C0FFEE, kBlack = 0x000000, kGrey = 0x94A2A5;
constexpr int W = 120, H = 40;

void Draw(void (*paint)(const FlatControl&, const painting::ControlSurface&),
          const Canvas& canvas, DWORD state, DWORD style, const std::wstring& caption) {
  paint(FlatControl{nullptr, state, nullptr}, Surface(canvas, style, caption));
}

TEST(GroupBox, FrameAndCaptionOnItsOpaqueCells) {
  struct Case {
    DWORD state;
    const wchar_t* caption;
    COLORREF text;
  } cases[] = {{0, L"Mode", kBlack}, {FLAT_DISABLED, L"Mode", kGrey},
               {FLAT_INDETERMINATE | FLAT_HOT, L"Mode", kGrey}, {0, L"", kBlack}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    Canvas canvas(W, H, kSurface);
    Draw(painting::DrawGroupBox, canvas, c.state, BS_GROUPBOX, c.caption);
    for (POINT p : {POINT{W / 2, H - 1}, POINT{0, 20}, POINT{W - 1, 20}, POINT{W - 10, 6}})
      EXPECT_EQ(canvas.At(p.x, p.y), kBlack) << p.x << "," << p.y;
    EXPECT_EQ(canvas.At(W / 2, 20), kSurface);  // hollow
    if (*c.caption) {
      if (c.text != kBlack) {  // black would mix with the frame
        RECT r = canvas.BoundsOf(c.text);
        EXPECT_GE(r.left, 5);
        EXPECT_LE(r.left, 7);
      }
      int cells = 0;  // the text's opaque cells break the frame line
      for (int x = 5; x < 30; ++x) cells += canvas.At(x, 6) == 0xFFFFFF;
      EXPECT_GT(cells, 5);
    } else {
      for (int x = 5; x < 30; ++x) EXPECT_EQ(canvas.At(x, 6), kBlack) << x;
    }
  }
}

TEST(StaticText, StyleIsTheFormat) {
  struct Case {
    DWORD style, state;
    const wchar_t* caption;
    COLORREF text;
    int left, right;  // where the text's pixels may lie
  } cases[] = {
      {SS_LEFT, 0, L"Ready", kBlack, 0, 40},
      {SS_CENTER | WS_CHILD | WS_VISIBLE, 0, L"Ready", kBlack, W / 2 - 20, W / 2 + 20},
      {SS_RIGHT, FLAT_DISABLED, L"Ready", kGrey, W - 40, W},
      {SS_LEFT, FLAT_INDETERMINATE, L"Ready", kGrey, 0, 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    Canvas canvas(W, H, kSurface);
    Draw(painting::DrawStaticText, canvas, c.state, c.style, c.caption);
    RECT r = canvas.BoundsOf(c.text);
    EXPECT_GE(r.left, c.left);
    EXPECT_LE(r.right, c.right);
    EXPECT_GT(r.right, r.left);
  }
  // SS_RIGHTJUST reads as DT_CALCRECT: measured, not drawn. No caption: nothing at all.
  for (auto [style, caption] : {std::pair{DWORD(SS_RIGHTJUST), L"Ready"}, std::pair{DWORD(0), L""}}) {
    Canvas canvas(W, H, kSurface);
    Draw(painting::DrawStaticText, canvas, 0, style, caption);
    RECT all = canvas.BoundsOf(kSurface);
    EXPECT_TRUE(all.right == W && all.bottom == H && canvas.BoundsOf(0xFFFFFF).right == 0);
  }
}

// WS_TABSTOP is DT_MODIFYSTRING: with an ellipsis style DrawText would write the shortened
// text into a caption that already fills its buffer.
TEST(StaticText, NeverWritesIntoItsCaption) {
  const std::wstring full(painting::kCaptionChars - 1, L'W');
  for (DWORD ellipsis : {DWORD(SS_ENDELLIPSIS), DWORD(SS_PATHELLIPSIS), DWORD(SS_WORDELLIPSIS)}) {
    Canvas canvas(60, 16, kSurface);
    painting::ControlSurface surface = Surface(canvas, WS_TABSTOP | ellipsis, full);
    surface.caption.reserve(surface.caption.size());  // no spare room behind it
    painting::DrawStaticText(FlatControl{nullptr, 0, nullptr}, surface);
    EXPECT_EQ(surface.caption, full);
    EXPECT_GT(canvas.BoundsOf(kBlack).right, 0);
  }
}

}  // namespace
}  // namespace brenvik
