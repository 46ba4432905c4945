#include "flat_binding.h"

#include <commctrl.h>

namespace brenvik::gallery {
namespace {

struct Binding {
  FlatPainter painter;
  DWORD fixedState;
  HICON disabledIcon;
  bool live;
  bool hot = false;
};

DWORD LiveState(HWND window, const Binding& b) {
  DWORD state = 0;
  if (!::IsWindowEnabled(window)) state |= FLAT_DISABLED;
  if (b.hot) state |= FLAT_HOT;
  if (::GetFocus() == window) state |= FLAT_FOCUSED;
  // Static controls answer BM_GETSTATE with 0.
  LRESULT button = ::SendMessageW(window, BM_GETSTATE, 0, 0);
  if (button & BST_PUSHED) state |= FLAT_PRESSED;
  if (button & BST_CHECKED) state |= FLAT_CHECKED;
  if (button & BST_INDETERMINATE) state |= FLAT_INDETERMINATE;
  wchar_t cls[16] = {};
  ::GetClassNameW(window, cls, 16);
  DWORD style = DWORD(::GetWindowLongW(window, GWL_STYLE));
  if (::lstrcmpiW(cls, L"Button") == 0 && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
    state |= FLAT_DEFAULT;
  return state;
}

// Group boxes and static text draw no background of their own: the surface under them
// comes first, as a parent drawing beneath its children would give.
void EraseWindowArea(HWND window) {
  RECT r;
  ::GetWindowRect(window, &r);
  ::OffsetRect(&r, -r.left, -r.top);
  HDC dc = ::GetWindowDC(window);
  HBRUSH brush = ::CreateSolidBrush(g_flatBackground);
  ::FillRect(dc, &r, brush);
  ::DeleteObject(brush);
  ::ReleaseDC(window, dc);
}

void Paint(HWND window, const Binding& b) {
  FlatControl control{window, b.live ? LiveState(window, b) : b.fixedState, b.disabledIcon};
  if (b.painter == PaintGroupBox || b.painter == PaintStaticText) EraseWindowArea(window);
  b.painter(&control);
}

// Messages after which the standard control would have drawn itself.
bool RedrawsItself(UINT message) {
  switch (message) {
    case WM_SETFOCUS: case WM_KILLFOCUS: case WM_ENABLE: case WM_SETTEXT: case WM_SETFONT:
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK: case WM_CAPTURECHANGED:
    case WM_KEYDOWN: case WM_KEYUP: case WM_SYSKEYUP: case WM_MOUSELEAVE: case WM_UPDATEUISTATE:
    case BM_SETSTATE: case BM_SETCHECK: case BM_SETSTYLE: case WM_SIZE: case WM_STYLECHANGED:
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                          DWORD_PTR data) {
  auto* b = reinterpret_cast<Binding*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_NCPAINT:  // the painter covers the borders too
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(window, &ps);
      ::EndPaint(window, &ps);
      Paint(window, *b);
      return 0;
    }
    case WM_MOUSEMOVE:
      if (!b->hot) {
        b->hot = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
        ::TrackMouseEvent(&track);
        LRESULT r = ::DefSubclassProc(window, message, wParam, lParam);
        Paint(window, *b);
        return r;
      }
      break;
    case WM_MOUSELEAVE:
      b->hot = false;
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(window, Subclass, id);
      delete b;
      return ::DefSubclassProc(window, message, wParam, lParam);
    default:
      break;
  }
  LRESULT r = ::DefSubclassProc(window, message, wParam, lParam);
  if (RedrawsItself(message)) Paint(window, *b);
  return r;
}

void Bind(HWND control, Binding* b) {
  if (!::SetWindowSubclass(control, Subclass, 1, reinterpret_cast<DWORD_PTR>(b))) {
    delete b;
    return;
  }
  ::RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
}

}  // namespace

void BindFixed(HWND control, FlatPainter painter, DWORD state, HICON disabledIcon) {
  Bind(control, new Binding{painter, state, disabledIcon, false});
}

void BindLive(HWND control, FlatPainter painter, HICON disabledIcon) {
  Bind(control, new Binding{painter, 0, disabledIcon, true});
}

}  // namespace brenvik::gallery
