#include "text/terminal_size.h"

#include <io.h>
#include <windows.h>

namespace brenvik::text {

TerminalSize QueryTerminalSize(std::FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) return {};
  return {size_t(info.srWindow.Right - info.srWindow.Left + 1), size_t(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

}  // namespace brenvik::text
