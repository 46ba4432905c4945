// Group boxes and static text, drawn straight onto the control's DC.
#include "painting/control_surface.h"

namespace brenvik::painting {
namespace {

constexpr COLORREF kGreyCaption = 0x94A2A5;

COLORREF CaptionColour(DWORD state) {
  return (state & (FLAT_DISABLED | FLAT_INDETERMINATE)) ? kGreyCaption : 0x000000;
}

void DrawCaption(HDC dc, const ControlSurface& surface, DWORD state, RECT r, UINT format) {
  ::SetTextColor(dc, CaptionColour(state));
  HGDIOBJ oldFont = surface.font ? ::SelectObject(dc, surface.font) : nullptr;
  ::DrawTextW(dc, surface.caption.c_str(), -1, &r, format);
  if (oldFont) ::SelectObject(dc, oldFont);
}

}  // namespace

// The frame in the DC's own pen; the caption keeps the DC's opaque background, so its
// text cells break the frame line.
void DrawGroupBox(const FlatControl& control, const ControlSurface& surface) {
  HDC dc = surface.dc;
  const int w = surface.width, h = surface.height;
  HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  ::RoundRect(dc, 0, 6, w, h, 6, 6);
  ::SelectObject(dc, oldBrush);
  if (!surface.caption.empty()) DrawCaption(dc, surface, control.state, {5, 0, w, h}, 0);
}

// The window style is the DrawText format: SS_LEFT, SS_CENTER and SS_RIGHT align.
void DrawStaticText(const FlatControl& control, const ControlSurface& surface) {
  HDC dc = surface.dc;
  int saved = ::SaveDC(dc);
  if (!surface.caption.empty()) {
    DrawCaption(dc, surface, control.state, {0, 0, surface.width, surface.height},
                StaticTextFormat(surface.style));
  }
  ::RestoreDC(dc, saved);
}

}  // namespace brenvik::painting
