// Reading another process's windows as a person sees them: by caption, class and owner,
// with every message bounded, so a busy program never stalls the driver.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace uidriver {

// Bound on one message to the program under test.
inline constexpr UINT kMessageBoundMs = 2000;

std::string Utf8(const std::wstring& w);
std::wstring Wide(const std::string& s);

std::wstring ClassOf(HWND hwnd);
// WM_GETTEXT (bounded), falling back to the window manager's copy when the owner is busy.
std::wstring TextOf(HWND hwnd);
// SendMessageTimeout; `ok` false when the window did not answer within the bound.
LRESULT Ask(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, bool* ok = nullptr);

// Visible top-level windows of a process, in z-order.
std::vector<HWND> TopWindowsOf(DWORD pid);
// The first visible top-level window of `pid` with class #32770 and this exact caption.
HWND FindDialog(DWORD pid, const std::wstring& caption);
// Visible dialogs of `pid` other than `main`: message boxes, the About box, file dialogs.
std::vector<HWND> BoxesOf(DWORD pid, HWND main);

std::vector<HWND> ChildrenOf(HWND parent);  // direct children in z (tab) order

}  // namespace uidriver
