#include "catch_up.h"

#include <unistd.h>

#include <cerrno>

#include "importer.h"
#include "log_reader.h"

namespace brenvik::records {
namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0 || errno != ENOENT; }

}  // namespace

std::vector<std::string> RotatedLogs(const std::string& log) {
  std::vector<std::string> rotated;
  for (int n = 1;; ++n) {
    const std::string plain = log + "." + std::to_string(n);
    if (Exists(plain))
      rotated.push_back(plain);
    else if (Exists(plain + ".gz"))
      rotated.push_back(plain + ".gz");
    else
      break;
  }
  return rotated;
}

void CatchUpLog(Store& store, const std::string& log) {
  ImportCounts counts;  // a line that is no run was never a run's record
  // A log not made yet holds nothing to catch up with.
  if (Exists(log)) ImportLog(store, log, counts);
  for (const std::string& older : RotatedLogs(log)) {
    ImportCounts read;
    try {
      ImportLog(store, older, read);  // compressed or not, as its first bytes say
    } catch (const LogCutShort&) {
      // Damaged: the runs before the damage are in, and nothing more can be read of it.
      // Failing here would fail every catch-up after it too.
    }
    if (read.added == 0 && read.already > 0) break;
  }
}

}  // namespace brenvik::records
