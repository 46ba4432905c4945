// What a download procedure, and a whole run, came to: success, or the step that failed
// and why. Typed all the way up; only the run layer and the programs put it into words.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_result.h"

namespace brenvik {

enum class Step {
  kNone,
  kAck,         // the upgrade acknowledgement
  kReady,       // block N's ready packet
  kBlockData,   // block N's header or data
  kBootArea,    // the boot area's transfer
  kRecord,      // record N's transfer
  kEnd,         // the end commands, or the last bytes reaching the handset
  kImageCheck,  // the image file before, during or after the transfer
};

enum class Cause {
  kNone,
  kTimeout,        // the device did not answer or take the bytes within the bound
  kHangUp,         // the link went away
  kDeviceError,    // the device failed the call (link.systemError says how)
  kShortTransfer,  // the device moved fewer bytes than asked
  kWrongPacket,    // an in-packet of other bytes came (link.wrongPacket)
  kStopped,        // a signal or the console asked the program to stop
  kImageChanged,   // the file changed under the run
  kMalformed,      // the record stream is broken (detail says where)
  kNotCorrect,     // an image of kind 9 (detail says why)
  kInternal,       // an error of the program itself (detail)
};

struct Outcome {
  Step step = Step::kNone;
  uint32_t index = 0;  // block or record number, from 0
  Cause cause = Cause::kNone;
  LinkResult link;     // for the causes the device gave
  std::string detail;  // for the others

  bool Ok() const { return cause == Cause::kNone; }
  static Outcome Success() { return {}; }
  static Outcome OfLink(Step step, uint32_t index, const LinkResult& link);
};

}  // namespace brenvik
