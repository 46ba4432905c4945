// Texts from the program's own string table.
#pragma once

#include <windows.h>

#include <string>

namespace winui {

// The string `id` of the program's resources; empty when there is none.
inline std::wstring LoadText(UINT id, HINSTANCE instance = ::GetModuleHandleW(nullptr)) {
  const wchar_t* text = nullptr;
  // With a zero length LoadStringW hands out the resource's own read-only text.
  const int n = ::LoadStringW(instance, id, reinterpret_cast<wchar_t*>(&text), 0);
  return n > 0 ? std::wstring(text, size_t(n)) : std::wstring();
}

}  // namespace winui
