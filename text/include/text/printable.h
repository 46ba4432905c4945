// Text from outside (serials, names, paths, sysfs values, a handset's bytes) as a terminal is
// to show it: a control character or a byte that is no UTF-8 could move the cursor, ring the
// bell, retitle the window or worse, so each is written as an escape instead.
#pragma once

#include <string>
#include <string_view>

namespace brenvik::text {

// "\x1B" for C0 controls, DEL and bytes that are no UTF-8; "\u0085" for C1 controls. Valid
// UTF-8 text (Chinese included) and blanks pass unchanged.
std::string Printable(std::string_view text);

}  // namespace brenvik::text
