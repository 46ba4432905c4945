// Text from outside (serials, causes, paths, station names) as an HTML page is to show it:
// first made printable, as for a terminal, then its markup characters written as entities,
// so that a serial "<script>" stays text in an element or an attribute's value.
#pragma once

#include <string>
#include <string_view>

namespace brenvik::text {

std::string HtmlText(std::string_view text);

}  // namespace brenvik::text
