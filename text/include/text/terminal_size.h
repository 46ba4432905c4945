// The size of the terminal a stream is written to, asked afresh at each draw so that a
// resized window is followed.
#pragma once

#include <cstddef>
#include <cstdio>

namespace brenvik::text {

struct TerminalSize {
  size_t columns = 0, rows = 0;  // 0: not a terminal, or it would not say
};
TerminalSize QueryTerminalSize(std::FILE* stream);

// Whether the stream is a terminal (a console on Windows, or another character device).
bool IsTerminal(std::FILE* stream);

}  // namespace brenvik::text
