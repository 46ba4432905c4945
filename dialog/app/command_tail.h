// What the command line after the program's name asks for: an image path, or a device to
// open instead of searching the handset's class.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brenvik::app {

struct StartRequest {
  std::optional<std::wstring> imagePath;   // replaces the remembered path
  std::optional<std::wstring> devicePath;  // "-device PATH"
};

// An image tail is the image path as given, except that one pair of double quotes around
// the whole of it (a file dropped on the program) is removed; a tail beginning with '-' is
// never an image path. "-device PATH [IMAGE]" names the device (one word, or quoted when it
// holds blanks) and what follows it is an image tail. Any other option is ignored.
StartRequest ParseCommandTail(const std::wstring& tail);

}  // namespace brenvik::app
