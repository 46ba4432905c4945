// Why a download run failed: the step it failed in and what happened there.
#pragma once

#include <cstdint>
#include <string>

namespace brenvik {

enum class FailedStep {
  kNone,
  kAck,          // the upgrade acknowledgement
  kReady,        // block N's ready packet
  kBlockData,    // block N's header or data
  kBootArea,     // the boot area's transfer
  kRecord,       // record N's transfer
  kEnd,          // the end commands, or the last bytes reaching the handset
  kImageCheck,   // the image file before, during or after the transfer
};

enum class FailureCause {
  kNone,
  kLink,          // the device failed; `detail` says how
  kStopped,       // a signal asked the program to stop
  kImageChanged,  // the file changed under the run
  kMalformed,     // the record stream is broken; `detail` says where
  kNotCorrect,    // an image of kind 9
};

struct RunFailure {
  FailedStep step = FailedStep::kNone;
  uint32_t index = 0;  // block or record number, from 0
  FailureCause cause = FailureCause::kNone;
  std::string detail;
  bool Failed() const { return step != FailedStep::kNone; }
};

// "block 3's ready packet: timed out after 60 s (0 of 16 bytes)"
std::string DescribeFailure(const RunFailure& failure);
// The step alone, in words: "block 3's ready packet".
std::string DescribeStep(FailedStep step, uint32_t index);

}  // namespace brenvik
