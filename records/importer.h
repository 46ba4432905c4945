// Log files into the records: line by line, many rows to a transaction, every run once.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "store.h"

namespace brenvik::records {

struct BadLine {
  std::string file;
  size_t line = 0;
  std::string why;
};

struct ImportCounts {
  size_t added = 0, already = 0, malformed = 0;
  std::vector<BadLine> bad;
};

// A log that cannot be used at all (missing, not a file, not readable): nothing was read.
class LogError : public StoreError {
 public:
  using StoreError::StoreError;
};

// Adds the runs of one log file. A line that is no run is counted and named, never stops the
// import; a file that cannot be opened throws LogError, one that fails part way or a database
// that fails StoreError.
void ImportLog(Store& store, const std::string& path, ImportCounts& counts,
               const std::function<void(size_t lines)>& progress = {});

}  // namespace brenvik::records
