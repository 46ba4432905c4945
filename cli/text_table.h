// A table of text for a terminal: the columns padded to their widest cell, and, where the
// table is wider than the terminal, the columns that may give way cut to fit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brenvik::cli {

struct TableColumn {
  std::string title;
  bool right = false;     // numbers are aligned to the right
  size_t shrinkTo = 0;    // how narrow it may become; 0: never cut
  bool middle = false;    // cut in the middle (paths) rather than at the end
};

// The lines of the table; every cell must already be printable. `width` 0: not a terminal,
// nothing is cut.
std::vector<std::string> FitTable(const std::vector<TableColumn>& columns,
                                  const std::vector<std::vector<std::string>>& rows, size_t width);

}  // namespace brenvik::cli
