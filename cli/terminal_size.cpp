#include "terminal_size.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace brenvik::cli {

TerminalSize QueryTerminalSize(std::FILE* stream) {
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) return {};
  return {size_t(info.srWindow.Right - info.srWindow.Left + 1), size_t(info.srWindow.Bottom - info.srWindow.Top + 1)};
#else
  struct winsize ws {};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) != 0) return {};
  return {ws.ws_col, ws.ws_row};
#endif
}

}  // namespace brenvik::cli
