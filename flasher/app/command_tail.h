// What the command line after the program's name asks for: an image path, or a device to
// open instead of searching the handset's class.
#pragma once

#include <optional>
#include <string>

namespace brenvik::app {

struct StartRequest {
  std::optional<std::wstring> imagePath;   // replaces the remembered path
  std::optional<std::wstring> devicePath;  // "-device PATH"
};

// A tail beginning with '-' is never an image path: "-device PATH" names the device and
// any other option is ignored. Any other tail is the image path as given, except that one
// pair of double quotes around the whole of it (a file dropped on the program) is removed.
StartRequest ParseCommandTail(const std::wstring& tail);

}  // namespace brenvik::app
