// The four download procedures the sweep drives (and the block download without auto
// upgrade), each with an image file whose size is a
// whole number of pages (so a guard page sits right behind its last byte) and the data
// units a handset must receive from it.
#pragma once

#include <string>
#include <vector>

#include "fakes/image_files.h"
#include "fakes/memory_handset.h"

namespace brenvik::testing {

struct SweepCase {
  std::string name;      // "plain blocks", "img", "raw", "large bin", ...
  std::string fileName;  // its extension picks the procedure
  bool autoUpgrade = true;
  Bytes image;
  std::vector<ExpectedUnit> units;  // point into `image`: keep the case where it is
};

std::vector<SweepCase> SweepCases();

}  // namespace brenvik::testing
