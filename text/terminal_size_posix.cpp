#include "text/terminal_size.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace brenvik::text {

TerminalSize QueryTerminalSize(std::FILE* stream) {
  struct winsize ws {};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) != 0) return {};
  return {ws.ws_col, ws.ws_row};
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace brenvik::text
