// UTF-8 <-> UTF-16 at the Win32 boundary, and the system's text for an error code.
// Header-only: the core, the dialog layer and the tests share it.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// Paths arrive as UTF-8; the wide calls take them whatever the ANSI code page is.
inline std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(size_t(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

inline std::string Narrow(const wchar_t* w, int length = -1) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, length, s.data(), n, nullptr, nullptr);
  if (length < 0) s.pop_back();  // the converted terminator
  return s;
}

// "The system cannot find the file specified. (error 2)"
inline std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n ? Narrow(buffer, int(n)) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "unknown error";
  return text + " (error " + std::to_string(code) + ")";
}

}  // namespace win32
