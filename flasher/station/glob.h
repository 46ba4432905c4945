// Shell-style patterns for the station's --usb-port filter ("1-1.*", "2-1.[1-4]").
#pragma once

#include <string_view>

namespace brenvik::station {

// True when `pattern` matches all of `text`: `*` any run of characters, `?` one character,
// `[abc]`, `[a-z]`, `[!a-z]` (or `[^a-z]`) one character of a set, `\x` the character x.
// A `[` without its `]` is an ordinary character. Unlike paths, `*` also crosses `.`, `-`
// and `/`.
bool GlobMatch(std::string_view pattern, std::string_view text);

}  // namespace brenvik::station
