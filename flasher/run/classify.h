// Which kind of image a file is, from the last three characters of its path and its size.
#pragma once

#include <cstdint>
#include <string>

namespace brenvik {

struct Classification {
  int32_t kind = 0;
  const char* reason = "";  // why, in words, for the inspector and the failure line
};

Classification ClassifyImage(const std::string& path, uint32_t size);

}  // namespace brenvik
