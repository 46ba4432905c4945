// Mouse and keyboard as a person uses them: real input events, which go to whatever window
// is under the pointer or has the focus, so disabled controls and modal boxes behave as
// they do for a person.
#pragma once

#include <windows.h>

#include <string>

namespace uidriver {

// Moves the pointer to the centre of `hwnd` and clicks the left button.
void ClickCentre(HWND hwnd);
// Moves the pointer to a screen point and clicks the left button.
void ClickAt(POINT screen);
// Brings `hwnd` to the foreground and presses a key: "escape", "enter", "alt+f4", "space".
bool PressKey(HWND hwnd, const std::string& key);
// The screen point of the close box of `hwnd`'s caption, found by asking the window itself.
bool FindCloseBox(HWND hwnd, POINT* where);

}  // namespace uidriver
