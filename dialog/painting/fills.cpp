// Gradient and solid fills shared by the painters.
#include "painting/control_surface.h"

namespace brenvik {
namespace {

TRIVERTEX Vertex(LONG x, LONG y, COLORREF c, COLOR16 alpha) {
  return {x, y, COLOR16(GetRValue(c) << 8), COLOR16(GetGValue(c) << 8),
          COLOR16(GetBValue(c) << 8), alpha};
}

TRIVERTEX Corner(LONG x, LONG y, COLORREF c) { return Vertex(x, y, c, COLOR16((c >> 24) << 8)); }

}  // namespace

BOOL FillGradientQuad(HDC dc, const RECT& rect, const COLORREF* c) {
  TRIVERTEX v[4] = {
      Corner(rect.left, rect.top, c[0]),
      Corner(rect.right, rect.top, c[1]),
      Corner(rect.left, rect.bottom, c[2]),
      Corner(rect.right, rect.bottom, c[3]),
  };
  if (c[0] == c[1] && c[2] == c[3]) {
    GRADIENT_RECT whole{0, 3};
    return ::GradientFill(dc, v, 4, &whole, 1, GRADIENT_FILL_RECT_V);
  }
  GRADIENT_TRIANGLE upper{0, 1, 2}, lower{3, 1, 2};
  ::GradientFill(dc, v, 4, &upper, 1, GRADIENT_FILL_TRIANGLE);
  return ::GradientFill(dc, v, 4, &lower, 1, GRADIENT_FILL_TRIANGLE);
}

namespace painting {

void FillVertical(HDC dc, int x0, int y0, COLORREF top, int x1, int y1, COLORREF bottom) {
  TRIVERTEX v[2] = {Vertex(x0, y0, top, 0x0000), Vertex(x1, y1, bottom, 0xFF00)};
  GRADIENT_RECT r{0, 1};
  ::GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &rect, brush);
  ::DeleteObject(brush);
}

// Channel by channel: a plain subtraction would borrow across channels (and into the
// flag byte) on a dark face colour.
COLORREF DimColour(COLORREF colour) {
  auto dim = [](BYTE v) { return BYTE(v > 0x20 ? v - 0x20 : 0); };
  return RGB(dim(GetRValue(colour)), dim(GetGValue(colour)), dim(GetBValue(colour)));
}

}  // namespace painting
}  // namespace brenvik
