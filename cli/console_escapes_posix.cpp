#include "console_escapes.h"

namespace brenvik::cli {

bool ConsoleDrawsEscapes(std::FILE*) { return true; }

}  // namespace brenvik::cli
