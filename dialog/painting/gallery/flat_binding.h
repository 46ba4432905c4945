// Puts a flat painter on a real control. The control is subclassed: its own painting is
// replaced, and after every message that would make it paint itself the painter draws
// the whole window area again.
#pragma once

#include <windows.h>

#include "painting/flat_control.h"

namespace brenvik::gallery {

// The painter always draws `state`, whatever the control does.
void BindFixed(HWND control, FlatPainter painter, DWORD state, HICON disabledIcon = nullptr);

// The state bits follow the control: enabled, pushed, under the mouse, focused, default,
// checked or indeterminate.
void BindLive(HWND control, FlatPainter painter, HICON disabledIcon = nullptr);

}  // namespace brenvik::gallery
