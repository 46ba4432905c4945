// Whether a terminal stream draws the escape sequences the board moves its rows with.
#pragma once

#include <cstdio>

namespace brenvik::cli {

// POSIX: every terminal does. Windows: turns escape processing on where the console has it
// (Windows 10 and later); false where the escapes would show as text, or the stream is no
// console.
bool ConsoleDrawsEscapes(std::FILE* stream);

}  // namespace brenvik::cli
