#include "console_escapes.h"

#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace brenvik::cli {

bool ConsoleDrawsEscapes(std::FILE* stream) {
  // Wine's console takes the mode and still prints the escapes as text.
  if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"))
    if (::GetProcAddress(ntdll, "wine_get_version")) return false;
  // A character device that is no console (NUL, a printer) passes for a terminal too.
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // Refused before Windows 10.
  return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace brenvik::cli
