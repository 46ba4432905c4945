// Serving downloads on the line: one session after another, each bounded in time.
#pragma once

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>

#include "faults.h"
#include "line.h"

namespace brenvik::handset {

struct ServeOptions {
  bool autoUpgrade = true;
  int sessions = 1;  // 0: until stopped
  // Longest silence of the PC within a session. Waiting for a later session to begin is
  // bounded too, except with `sessions` 0, where the handset waits for the next PC forever.
  std::chrono::milliseconds timeout{120'000};
  // How long a completed record download waits for the repeated download-end command.
  std::chrono::milliseconds linger{3'000};
  // Bytes per second the handset takes at most (0: as fast as the PC sends), like a slow
  // flash part; lets a person watch the progress.
  uint64_t rate = 0;
  std::string outDir;      // empty: no files
  std::string expectPath;  // empty: no reference check
  FaultPlan faults;        // applied in every session
};

// Serves until the sessions are done, a session fails, the link is dropped or `stop`
// becomes non-zero. Writes each session's summary and tells `log` about it.
// Returns 0 when every session asked for completed without error and matched the
// reference (if any), else 1. A mismatch alone does not end the run.
int Serve(Line& line, const ServeOptions& options, const volatile std::sig_atomic_t& stop, std::ostream& log);

}  // namespace brenvik::handset
