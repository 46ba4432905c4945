#include "download/run_failure.h"

namespace brenvik {

std::string DescribeStep(FailedStep step, uint32_t index) {
  const std::string n = std::to_string(index);
  switch (step) {
    case FailedStep::kNone: return "nothing";
    case FailedStep::kAck: return "the upgrade acknowledgement";
    case FailedStep::kReady: return "block " + n + "'s ready packet";
    case FailedStep::kBlockData: return "block " + n + "'s data";
    case FailedStep::kBootArea: return "the boot area";
    case FailedStep::kRecord: return "record " + n;
    case FailedStep::kEnd: return "the end of the download";
    case FailedStep::kImageCheck: return "the image check";
  }
  return "an unknown step";
}

std::string DescribeFailure(const RunFailure& f) {
  if (!f.Failed()) return "";
  return DescribeStep(f.step, f.index) + ": " + f.detail;
}

}  // namespace brenvik
