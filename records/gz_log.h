// A log that logrotate compressed (gzip), read line by line as ImportLog reads a plain one.
#pragma once

#include <string>

#include "importer.h"

namespace brenvik::records {

// Adds the runs of the compressed log at `path`. A file that cannot be opened throws
// LogError; damaged or cut compressed data ends the reading there, the runs before it added
// and the damage named among the bad lines (nothing better can be read of it).
void ImportGzLog(Store& store, const std::string& path, ImportCounts& counts);

}  // namespace brenvik::records
