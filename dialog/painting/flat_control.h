// Flat control painters: push buttons, check boxes, radio buttons, group boxes and static
// text drawn with gradient faces and rounded dark-blue outlines. A painter draws the
// control's whole window area from its FlatControl record; binding painters to windows
// (which messages, who sets the state bits) is the caller's business.
#pragma once

#include <windows.h>

namespace brenvik {

// FlatControl state bits; several may be set at once.
enum : DWORD {
  FLAT_DISABLED = 0x01,
  FLAT_PRESSED = 0x02,
  FLAT_HOT = 0x04,
  FLAT_FOCUSED = 0x08,
  FLAT_DEFAULT = 0x10,
  FLAT_CHECKED = 0x20,
  FLAT_INDETERMINATE = 0x40,
};

// What a painter is given, one per control. Painters only read it.
struct FlatControl {
  HWND window;
  DWORD state;
  HICON disabledIcon;  // drawn on a disabled push button; may be empty
};

// One off-screen drawing of a window's area. Callers fill in the window, set copy to 0
// and leave savedBitmap empty before BeginPaintBuffer.
struct PaintBuffer {
  HWND window;
  HDC windowDC;
  HDC memoryDC;
  int copy;  // 1: the buffer goes to the window at EndPaintBuffer (and starts as its image)
  HBITMAP savedBitmap;
};

using FlatPainter = void (*)(const FlatControl*);

// A record without a live window draws nothing.
void PaintPushButton(const FlatControl* control);
void PaintCheckBox(const FlatControl* control);
void PaintRadioButton(const FlatControl* control);
void PaintGroupBox(const FlatControl* control);
void PaintStaticText(const FlatControl* control);

// Returns the memory DC to draw on, a bitmap of the window's size.
HDC BeginPaintBuffer(PaintBuffer* buffer);
void EndPaintBuffer(PaintBuffer* buffer);

// Corner colours in the order top-left, top-right, bottom-left, bottom-right. Equal top
// and bottom pairs give one vertical rectangle fill, anything else two triangles split
// along the top-right/bottom-left diagonal. Returns the last GradientFill's result.
BOOL FillGradientQuad(HDC dc, const RECT& rect, const COLORREF* corners);

// The push button's icon and caption within `rect` on `dc`.
void DrawButtonIconAndCaption(const FlatControl* control, HDC dc, RECT rect);

// DrawText flags for a button style. Alignment bits are tested singly, so BS_CENTER
// reads as left and BS_VCENTER as top.
UINT ButtonStyleToTextFormat(DWORD style);

extern const COLORREF g_flatBackground;
extern const COLORREF g_flatGradients[8][4];
extern const FlatPainter g_flatPainters[5];
// Window classes the painters were meant for; positions do not match g_flatPainters.
extern const char g_flatClassNames[7][32];

}  // namespace brenvik
