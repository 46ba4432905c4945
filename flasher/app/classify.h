// Which kind of image a file is, from the last three characters of its path and its size.
#pragma once

#include <cstdint>
#include <string>

namespace brenvik {

struct Classification {
  int32_t kind = 0;
  const char* reason = "";  // why, in words, for the inspector and the logs
};

Classification ClassifyImagePath(const std::string& path, uint32_t size);

// The ImageKind alone, as the flash handler sends it.
inline int32_t ClassifyImage(const std::string& path, uint32_t size) {
  return ClassifyImagePath(path, size).kind;
}

}  // namespace brenvik
