// DrawText flags from window styles.
#include "painting/control_surface.h"

namespace brenvik {

UINT ButtonStyleToTextFormat(DWORD style) {
  UINT format = 0;
  if (!(style & BS_MULTILINE)) format |= DT_SINGLELINE;
  if (style & BS_TOP) {
    // top: no flag
  } else if (style & BS_BOTTOM) {
    format |= DT_BOTTOM;
  } else {
    format |= DT_VCENTER | DT_SINGLELINE;
  }
  if (style & BS_LEFT) {
    // left: no flag
  } else if (style & BS_RIGHT) {
    format |= DT_RIGHT;
  } else {
    format |= DT_CENTER;
  }
  return format | DT_END_ELLIPSIS;
}

namespace painting {

// SS_LEFT, SS_CENTER and SS_RIGHT are DT_LEFT, DT_CENTER and DT_RIGHT, and the other bits
// pass as they are, except WS_TABSTOP: as DT_MODIFYSTRING it would let an ellipsis be
// written past the end of a full caption.
UINT StaticTextFormat(DWORD style) { return UINT(style) & ~UINT(DT_MODIFYSTRING); }

}  // namespace painting
}  // namespace brenvik
