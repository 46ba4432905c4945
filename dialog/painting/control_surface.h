// The painters' inside: a control as a painter sees it, read once per paint, and the
// drawing on any DC. The public painters read the surface from the window and draw on
// its window DC; tests and previews hand in a bitmap DC instead.
#pragma once

#include <windows.h>

#include <string>

#include "painting/flat_control.h"

namespace brenvik::painting {

// Captions are read into a buffer of this many characters, terminator included.
inline constexpr int kCaptionChars = 256;

struct ControlSurface {
  HDC dc = nullptr;  // covers the whole window area, origin at its top-left corner
  int width = 0;
  int height = 0;
  DWORD style = 0;
  std::wstring caption;
  HFONT font = nullptr;       // null: the DC's own font
  HICON smallIcon = nullptr;  // WM_GETICON, ICON_SMALL
};

// Fills everything but the DC from the window; false when `window` is no window.
bool ReadControl(HWND window, ControlSurface& surface);

void DrawPushButton(const FlatControl& control, const ControlSurface& surface);
void DrawCheckBox(const FlatControl& control, const ControlSurface& surface);
void DrawRadioButton(const FlatControl& control, const ControlSurface& surface);
void DrawGroupBox(const FlatControl& control, const ControlSurface& surface);
void DrawStaticText(const FlatControl& control, const ControlSurface& surface);
void DrawIconAndCaption(const FlatControl& control, const ControlSurface& surface, HDC dc,
                        RECT rect);

// The paint buffer on the DC already in buffer.windowDC, which stays the caller's.
HDC BeginBufferOn(PaintBuffer& buffer, int width, int height);
void EndBufferOn(PaintBuffer& buffer, int width, int height);

// A two-vertex vertical gradient from (x0, y0) to (x1, y1), alpha rising from 0 to 0xFF00.
void FillVertical(HDC dc, int x0, int y0, COLORREF top, int x1, int y1, COLORREF bottom);
void FillSolid(HDC dc, const RECT& rect, COLORREF colour);

// The static-text format: the style itself, without DT_MODIFYSTRING, so DrawText never
// writes into the caption.
UINT StaticTextFormat(DWORD style);

// A system colour made darker by 0x20 in each channel, stopping at 0.
COLORREF DimColour(COLORREF colour);

}  // namespace brenvik::painting
