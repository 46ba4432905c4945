// How many columns a UTF-8 text takes on a terminal, and how a text is fitted into fewer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brenvik::text {

// Columns a UTF-8 text takes: 2 for a wide (CJK) character; a stray byte counts as one.
size_t DisplayWidth(std::string_view text);
// The longest head of `text` within `width` columns, never cut inside a character.
std::string CutToWidth(std::string_view text, size_t width);
// A long name keeps its head and its tail: "/dev/serial/by-…-port0".
std::string ShortenMiddle(std::string_view text, size_t width);

}  // namespace brenvik::text
