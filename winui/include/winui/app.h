// The application around the dialogs: its name, its command-line tail and its message boxes.
#pragma once

#include <windows.h>

#include <string>

namespace winui {

// The program file's name without folder and extension: the caption of the program's boxes.
std::wstring AppName();

// The command line after the program's own name and the blanks behind it, as WinMain's
// lpCmdLine has it (a quoted program name ends at its closing quote).
std::wstring CommandTail(const wchar_t* commandLine = ::GetCommandLineW());

// A modal box with wide texts, so Chinese shows whatever the ANSI code page is.
int ShowBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags = MB_OK);
// A box captioned with the program's name, owned by the active window of the thread.
int AppMessageBox(const std::wstring& text, UINT flags = MB_OK);

}  // namespace winui
