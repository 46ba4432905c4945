// The system's Open dialog, answered as a person would: a file name typed, Open or Cancel.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>

namespace uidriver {

// Waits for the Open dialog of `pid`, reads its file-type list, types `path` into the file
// name field and presses Open ("open") or Cancel ("cancel").
nlohmann::json AnswerFileDialog(DWORD pid, HWND main, const std::wstring& path, const std::string& action,
                                DWORD timeoutMs);

}  // namespace uidriver
