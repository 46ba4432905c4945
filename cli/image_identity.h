// What the system tells of the image file without reading it: enough for the station to know
// whether the file it hashed is still the one at the path.
#pragma once

#include <optional>
#include <string>

#include "station/image_cache.h"

namespace brenvik::cli {

std::optional<station::ImageIdentity> ReadImageIdentity(const std::string& path);

}  // namespace brenvik::cli
