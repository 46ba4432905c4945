// Whether two names of a device are one device: the same node (POSIX), or the same port as
// the system resolves it (Windows: COM7, com7 and \\.\COM7). same_node_posix.cpp and
// same_node_win32.cpp.
#pragma once

#include <string>

namespace brenvik::cli {

bool SameNode(const std::string& a, const std::string& b);

}  // namespace brenvik::cli
