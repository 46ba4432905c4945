// The Open dialog of the browse button.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace brenvik::app {

// The file the user picked, or nothing when the dialog was cancelled or failed.
std::optional<std::wstring> AskImageFile(HWND owner);

}  // namespace brenvik::app
