// A station's catch-up: the runs of its log that are not in the database yet, also those in
// the files logrotate made of it since (station.log.1, station.log.2.gz, ...).
#pragma once

#include <string>
#include <vector>

#include "store.h"

namespace brenvik::records {

// The rotated files of `log` that are there, newest first: LOG.1 (or LOG.1.gz), LOG.2, ...
// up to the first number that is missing.
std::vector<std::string> RotatedLogs(const std::string& log);

// Reads `log` (none yet: nothing to read) and then its rotated files, newest first, until one
// whose runs were all in already: an older one was read by an earlier catch-up. Throws
// StoreError, as ImportLog does, when the database or a log fails.
void CatchUpLog(Store& store, const std::string& log);

}  // namespace brenvik::records
