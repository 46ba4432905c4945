#include "same_node.h"

#include <sys/stat.h>

namespace brenvik::cli {

bool SameNode(const std::string& a, const std::string& b) {
  if (a == b) return true;
  // std::filesystem::equivalent refuses device files: compare what stat says instead.
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace brenvik::cli
