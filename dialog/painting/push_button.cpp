// The push button: outer strip, coloured band, gradient face, double rounded outline, then
// icon and caption, composed off-screen.
#include "painting/control_surface.h"

#include <initializer_list>

namespace brenvik::painting {
namespace {

constexpr COLORREF kLeftEdge = 0xCBDEE2, kBottomEdge = 0xF2F7F8;
constexpr COLORREF kStripTop = 0xC2D6DC, kStripBottom = 0xEBF4F5;
constexpr COLORREF kGreyCaption = 0x94A2A5;

struct FaceColours {
  COLORREF bandTop, bandBottom, faceTop, faceBottom;
  int faceLeft;  // 2 leaves no band on the left
};

// Each state that holds overrides what it names, later rows winning.
FaceColours ChooseFaceColours(DWORD state, DWORD style) {
  FaceColours c{0xFFFFFF, 0xD6DFE2, 0xFBFCFC, 0xE6EBEC, 2};
  if (state & (FLAT_FOCUSED | FLAT_DEFAULT)) {
    c.bandTop = 0x05A0EB;
    c.bandBottom = 0x49C0FB;
    if (style & BS_FLAT) {  // the whole face turns orange, in the reverse gradient
      c.faceTop = 0x49C0FB;
      c.faceBottom = 0x05A0EB;
    }
    c.faceLeft = 4;
  }
  if (state & FLAT_HOT) {
    c.bandTop = 0xCFF0FF;
    c.bandBottom = 0x0097E5;
    c.faceLeft = 4;
  }
  if (state & FLAT_PRESSED) c = {0xC1CCD1, 0xEEF1F2, 0xDDE4E5, 0xDAE2E2, 4};
  if (state & FLAT_DISABLED) c = {0xEAF4F5, 0xEAF4F5, 0xEAF4F5, 0xEAF4F5, 4};
  return c;
}

HPEN Pen(COLORREF colour) { return ::CreatePen(PS_SOLID, 0, colour); }

void Line(HDC dc, HPEN pen, int x0, int y0, int x1, int y1) {
  ::SelectObject(dc, pen);
  ::MoveToEx(dc, x0, y0, nullptr);
  ::LineTo(dc, x1, y1);
}

// Places the icon, narrowing the caption's rectangle; the icon keeps its own size so
// that a small icon does not spill over the caption.
void PlaceIcon(HDC dc, HICON icon, const RECT& r, RECT& text, DWORD style) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return;
  const int s = int(info.yHotspot), w = r.right - r.left, h = r.bottom - r.top;
  int x, y;
  if (style & BS_TOP) {
    y = h - 2 * s - 4;
    text.bottom -= 2 * s;
  } else if (style & BS_BOTTOM) {
    y = h / 2 - s;
  } else {
    y = 4;
    text.top += 2 * s + 4;
  }
  if (style & BS_RIGHT) {  // tested first: BS_CENTER puts the icon on the left
    x = 4;
    text.left += 2 * s + 2;
  } else if (style & BS_LEFT) {
    x = w - 2 * s - 4;
    text.right -= 2 * s + 2;
  } else {
    x = w / 2 - s + 2;
  }
  ::DrawIconEx(dc, r.left + x, r.top + y, icon, 0, 0, 0, nullptr, DI_NORMAL);
  if (info.hbmMask) ::DeleteObject(info.hbmMask);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
}

}  // namespace

void DrawIconAndCaption(const FlatControl& control, const ControlSurface& surface, HDC dc,
                        RECT rect) {
  const DWORD state = control.state, style = surface.style;
  HICON icon = (state & FLAT_DISABLED) ? control.disabledIcon : surface.smallIcon;
  RECT text = rect;
  if (icon) PlaceIcon(dc, icon, rect, text, style);

  UINT format = ButtonStyleToTextFormat(style);
  if (surface.caption.empty()) return;
  if (state & FLAT_PRESSED) ::OffsetRect(&text, 1, 1);
  ::SetTextColor(dc, (state & (FLAT_DISABLED | FLAT_INDETERMINATE)) ? kGreyCaption : 0x000000);
  HGDIOBJ oldFont = surface.font ? ::SelectObject(dc, surface.font) : nullptr;
  ::DrawTextW(dc, surface.caption.c_str(), -1, &text, format);
  if (oldFont) ::SelectObject(dc, oldFont);
}

void DrawPushButton(const FlatControl& control, const ControlSurface& surface) {
  const int w = surface.width, h = surface.height;
  const DWORD state = control.state;
  const bool disabled = state & FLAT_DISABLED;
  PaintBuffer buffer{control.window, surface.dc, nullptr, 0, nullptr};
  HDC dc = BeginBufferOn(buffer, w, h);

  HPEN leftEdge = Pen(kLeftEdge), bottomEdge = Pen(kBottomEdge);
  int saved = ::SaveDC(dc);
  HPEN light = Pen(disabled ? 0xC7D5D8 : 0xA8957A), dark = Pen(disabled ? 0xBAC7C9 : 0x743C00);

  FillSolid(dc, {0, 0, w, h}, g_flatBackground);
  ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));  // outlines stay hollow

  // The outer strip leaves three corner pixels in the background.
  if (!disabled) {
    Line(dc, leftEdge, 0, 1, 0, h - 1);
    Line(dc, bottomEdge, 2, h - 1, w - 1, h - 1);
    FillVertical(dc, 1, 0, kStripTop, w, h - 1, kStripBottom);
  }

  FaceColours c = ChooseFaceColours(state, surface.style);
  FillVertical(dc, 2, 2, c.bandTop, w - 2, h - 2, c.bandBottom);
  FillVertical(dc, c.faceLeft, 4, c.faceTop, w - 4, h - 4, c.faceBottom);
  if (state & FLAT_FOCUSED) {
    RECT focus{3, 3, w - 3, h - 3};
    ::DrawFocusRect(dc, &focus);
  }

  // The dark outline covers the light one except in the corners, which it rounds more.
  ::SelectObject(dc, light);
  ::RoundRect(dc, 1, 1, w - 1, h - 1, 4, 4);
  ::SelectObject(dc, dark);
  ::RoundRect(dc, 1, 1, w - 1, h - 1, 6, 6);
  ::SetPixel(dc, w - 1, 0, g_flatBackground);

  DrawIconAndCaption(control, surface, dc, {0, 0, w, h});

  ::RestoreDC(dc, saved);
  for (HPEN pen : {leftEdge, bottomEdge, light, dark}) ::DeleteObject(pen);
  buffer.copy = 1;
  EndBufferOn(buffer, w, h);
}

}  // namespace brenvik::painting
