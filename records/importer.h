// Log files into the records: line by line, many rows to a transaction, every run once.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "log_reader.h"
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

// Adds the runs of one log file (gzip too; "" for standard input). A line that is no run, or
// a row the database refuses, is counted and named and never stops the import; a file that
// cannot be opened throws LogError, one that fails part way or a database that fails
// StoreError.
// `rowsPerBatch`: rows to a transaction. More take fewer writes of the same index pages and
// more memory (about 1 KB a row): a station's catch-up keeps to the default.
void ImportLog(Store& store, const std::string& path, ImportCounts& counts,
               const std::function<void(size_t lines)>& progress = {}, size_t rowsPerBatch = 20000);

}  // namespace brenvik::records
