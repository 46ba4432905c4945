// The painters on real windows: each call reads the control afresh and draws on its
// window DC, borders included.
#include "painting/control_surface.h"

namespace brenvik {
namespace painting {

bool ReadControl(HWND window, ControlSurface& surface) {
  RECT r{};
  if (!window || !::IsWindow(window) || !::GetWindowRect(window, &r)) return false;
  surface.width = r.right - r.left;
  surface.height = r.bottom - r.top;
  surface.style = DWORD(::GetWindowLongW(window, GWL_STYLE));
  // Wide, so captions show whatever the ANSI code page is.
  wchar_t text[kCaptionChars] = {};
  int length = ::GetWindowTextW(window, text, kCaptionChars);
  surface.caption.assign(text, length > 0 ? size_t(length) : 0);
  surface.font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  surface.smallIcon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
  return true;
}

}  // namespace painting

namespace {

using Draw = void (*)(const FlatControl&, const painting::ControlSurface&);

void PaintWindow(const FlatControl* control, Draw draw) {
  if (!control) return;
  painting::ControlSurface surface;
  if (!painting::ReadControl(control->window, surface)) return;
  surface.dc = ::GetWindowDC(control->window);
  if (!surface.dc) return;
  draw(*control, surface);
  ::ReleaseDC(control->window, surface.dc);
}

}  // namespace

void PaintPushButton(const FlatControl* control) { PaintWindow(control, painting::DrawPushButton); }
void PaintCheckBox(const FlatControl* control) { PaintWindow(control, painting::DrawCheckBox); }
void PaintRadioButton(const FlatControl* control) { PaintWindow(control, painting::DrawRadioButton); }
void PaintGroupBox(const FlatControl* control) { PaintWindow(control, painting::DrawGroupBox); }
void PaintStaticText(const FlatControl* control) { PaintWindow(control, painting::DrawStaticText); }

void DrawButtonIconAndCaption(const FlatControl* control, HDC dc, RECT rect) {
  painting::ControlSurface surface;
  if (!control || !painting::ReadControl(control->window, surface)) return;
  painting::DrawIconAndCaption(*control, surface, dc, rect);
}

}  // namespace brenvik
