#include "left_flashed.h"

namespace brenvik::cli {

std::string LeftFlashedFile() { return {}; }
std::vector<station::LeftFlashed> ReadLeftFlashed(const std::string&) { return {}; }
bool WriteLeftFlashed(const std::string&, const std::vector<station::LeftFlashed>&) { return false; }

}  // namespace brenvik::cli
