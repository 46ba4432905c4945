// One download run of a sweep case against the memory handset, with at most one fault, as
// brenvik-cli runs it: prepare, download, the final text, then the closing end command.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "run/download_run.h"
#include "fakes/faulty_device.h"
#include "sweep_cases.h"

namespace brenvik::testing {

// The bound every device wait of a sweep run must carry.
inline constexpr std::chrono::milliseconds kSweepBound{1500};

struct SweepRun {
  PrepareResult prepared = PrepareResult::kNoDevice;
  bool ok = false;  // what the run reported
  Outcome outcome;  // and why, when it failed
  std::string finalText;
  std::vector<std::string> messages;  // shown before the final text
  std::vector<OpRecord> ops;
  size_t opsBeforeDownload = 0, opsAfterDownload = 0;
  std::optional<OpRole> faulted;  // what the failed operation carried
  bool allUnitsArrived = false;
  bool handsetComplete = false;   // the handset saw the download's end, without a protocol error
  size_t outsideWrites = 0;
  bool runaway = false;
  bool unboundedWait = false;
  bool guarded = false;           // guard pages sat against both ends of the view
  std::chrono::steady_clock::duration took{};
};

SweepRun RunSweepCase(const SweepCase& c, const std::string& path, Fault fault, size_t opBudget);

}  // namespace brenvik::testing
