// What the system tells of the image file without reading it: enough for the station to know
// whether the file it hashed is still the one at the path, and the path the log names it by.
// image_identity_posix.cpp and image_identity_win32.cpp ask it.
#pragma once

#include <optional>
#include <string>

#include "station/image_cache.h"

namespace brenvik::cli {

std::optional<station::ImageIdentity> ReadImageIdentity(const std::string& path);

// The image's path as the log names it: absolute, the bytes as given.
std::string AbsoluteImagePath(const std::string& path);

}  // namespace brenvik::cli
