// Check boxes and radio buttons: a framed gradient box beside the caption, composed
// off-screen. Both share the inner square, the frame colour and the caption colour.
#include "painting/control_surface.h"

namespace brenvik::painting {
namespace {

constexpr COLORREF kFrame = 0x845118;
constexpr COLORREF kMarkGreen = 0x21A221, kMarkDisabled = 0xBDCBCE;

COLORREF FrameColour(DWORD state) {
  return (state & FLAT_DISABLED) ? DimColour(::GetSysColor(COLOR_BTNFACE)) : kFrame;
}

COLORREF CaptionColour(DWORD state) {
  return ::GetSysColor((state & FLAT_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
}

// Green for indeterminate, light grey under the mouse, else the gradient stays.
void FillInnerSquare(HDC dc, const RECT& r, DWORD state) {
  COLORREF colour;
  if (state & FLAT_INDETERMINATE) {
    colour = (state & FLAT_DISABLED)  ? kMarkDisabled
             : (state & FLAT_PRESSED) ? 0x188A18
             : (state & FLAT_HOT)     ? kMarkGreen
                                      : 0x73C373;
  } else if ((state & FLAT_HOT) && !(state & FLAT_PRESSED)) {
    colour = (state & FLAT_CHECKED) ? 0xF7F7F7 : 0xE7E7E7;
  } else {
    return;
  }
  FillSolid(dc, r, colour);
}

// Seven three-pixel strokes, down then up.
void DrawCheckMark(HDC dc, const RECT& box, DWORD state) {
  static constexpr int kRise[7] = {2, 3, 4, 3, 2, 1, 0};
  HPEN pen = ::CreatePen(PS_SOLID, 1, (state & FLAT_DISABLED) ? kMarkDisabled : kMarkGreen);
  HGDIOBJ old = ::SelectObject(dc, pen);
  for (int i = 0; i < 7; ++i) {
    ::MoveToEx(dc, box.left + i, box.top + kRise[i], nullptr);
    ::LineTo(dc, box.left + i, box.top + kRise[i] + 3);
  }
  ::SelectObject(dc, old);
  ::DeleteObject(pen);
}

void Ring(HDC dc, int width, COLORREF colour, int left, int top, int right, int bottom) {
  HPEN pen = ::CreatePen(PS_SOLID, width, colour);
  HGDIOBJ old = ::SelectObject(dc, pen);
  ::Ellipse(dc, left, top, right, bottom);
  ::SelectObject(dc, old);
  ::DeleteObject(pen);
}

// Selects the control's font and caption colour; the destructor puts the font back.
class CaptionText {
 public:
  CaptionText(HDC dc, const ControlSurface& surface, DWORD state) : dc_(dc) {
    ::SetTextColor(dc, CaptionColour(state));
    if (surface.font) old_ = ::SelectObject(dc, surface.font);
  }
  ~CaptionText() {
    if (old_) ::SelectObject(dc_, old_);
  }
  CaptionText(const CaptionText&) = delete;
  CaptionText& operator=(const CaptionText&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

// The mark (a `side`-pixel square, centred vertically, truncated toward zero so a low control
// cuts its top) at the left, or at the right with BS_LEFTTEXT; the caption `gap` pixels beyond.
void LayOutMark(const ControlSurface& surface, int side, int gap, RECT* mark, RECT* caption) {
  const int w = surface.width, h = surface.height;
  const int top = (h - side) / 2;
  if (surface.style & BS_LEFTTEXT) {
    *mark = {w - side, top, w, top + side};
    *caption = {0, 0, w - side - gap, h};
  } else {
    *mark = {0, top, side, top + side};
    *caption = {side + gap, 0, w, h};
  }
}

}  // namespace

void DrawCheckBox(const FlatControl& control, const ControlSurface& surface) {
  const int w = surface.width, h = surface.height;
  const DWORD state = control.state;
  PaintBuffer buffer{control.window, surface.dc, nullptr, 0, nullptr};
  HDC dc = BeginBufferOn(buffer, w, h);
  FillSolid(dc, {0, 0, w, h}, g_flatBackground);

  RECT box, text;
  LayOutMark(surface, 13, 5, &box, &text);
  HBRUSH frame = ::CreateSolidBrush(FrameColour(state));
  ::FrameRect(dc, &box, frame);
  ::DeleteObject(frame);

  ::InflateRect(&box, -1, -1);
  if (state & FLAT_DISABLED) {
    ::FillRect(dc, &box, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  } else {
    int row = (state & FLAT_PRESSED) ? 0 : (state & FLAT_HOT) ? 1 : 2;
    FillGradientQuad(dc, box, g_flatGradients[row]);
  }
  ::InflateRect(&box, -2, -2);
  FillInnerSquare(dc, box, state);
  if (state & FLAT_CHECKED) DrawCheckMark(dc, box, state);

  // Always left-aligned at the top, one pixel taller than the text, whatever the style.
  if (!surface.caption.empty()) {
    CaptionText caption(dc, surface, state);
    int height = ::DrawTextW(dc, surface.caption.c_str(), -1, &text,
                             DT_CALCRECT | DT_SINGLELINE | DT_VCENTER);
    text.bottom = text.top + height + 1;
    ::DrawTextW(dc, surface.caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER);
    if (state & FLAT_FOCUSED) {
      ::InflateRect(&text, 0, -1);
      ::DrawFocusRect(dc, &text);
    }
  }
  buffer.copy = 1;
  EndBufferOn(buffer, w, h);
}

void DrawRadioButton(const FlatControl& control, const ControlSurface& surface) {
  const int w = surface.width, h = surface.height;
  const DWORD state = control.state;
  PaintBuffer buffer{control.window, surface.dc, nullptr, 0, nullptr};
  HDC dc = BeginBufferOn(buffer, w, h);
  FillSolid(dc, {0, 0, w, h}, g_flatBackground);

  RECT square, text;
  LayOutMark(surface, 15, 0, &square, &text);
  const int x = square.left, y = square.top;

  // In the normal state the square is left alone and the background shows.
  if (state & FLAT_DISABLED) {
    ::FillRect(dc, &square, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  } else if (state & FLAT_PRESSED) {
    FillGradientQuad(dc, square, g_flatGradients[3]);
  } else if (state & FLAT_HOT) {
    FillGradientQuad(dc, square, g_flatGradients[4]);
  }
  ::InflateRect(&square, -2, -2);
  FillInnerSquare(dc, square, state);

  HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  if (state & FLAT_CHECKED) {  // a green square cut round by white rings
    FillGradientQuad(dc, square, g_flatGradients[6]);
    HPEN pen = ::CreatePen(PS_SOLID, 1, g_flatBackground);
    HGDIOBJ old = ::SelectObject(dc, pen);
    ::Ellipse(dc, x + 3, y + 3, x + 12, y + 12);
    ::Ellipse(dc, x + 4, y + 4, x + 11, y + 11);
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
  }
  // Under the mouse the wide ring is left out, so the orange square frames the circle.
  if (!(state & FLAT_HOT)) Ring(dc, 3, g_flatBackground, x, y, x + 14, y + 14);
  Ring(dc, 1, FrameColour(state), x + 2, y + 2, x + 13, y + 13);
  ::SelectObject(dc, oldBrush);

  UINT format = ButtonStyleToTextFormat(surface.style);
  if (!surface.caption.empty()) {
    CaptionText caption(dc, surface, state);
    ::DrawTextW(dc, surface.caption.c_str(), -1, &text, format);
    if (state & FLAT_FOCUSED) {
      ::InflateRect(&text, -1, -1);
      ::DrawFocusRect(dc, &text);
    }
  }
  buffer.copy = 1;
  EndBufferOn(buffer, w, h);
}

}  // namespace brenvik::painting
