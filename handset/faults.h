// Faults the handset can be told to commit, to see how the PC copes with them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "session.h"

namespace brenvik::handset {

struct FaultPlan {
  bool noAck = false;                        // withhold the upgrade acknowledgement
  std::optional<uint32_t> wrongReadyBlock;   // a wrong ready packet before this block
  std::optional<uint32_t> silentFromBlock;   // no ready packet from this block on
  std::optional<uint64_t> dropAfterBytes;    // close the link after this many bytes
  bool Any() const { return noAck || wrongReadyBlock || silentFromBlock || dropAfterBytes; }
};

// Adds one fault given as "no-ack", "wrong-ready=N", "silent-from=N" or "drop-after=N".
// False, with the reason in `error`, when the text is not one of them.
bool AddFault(FaultPlan& plan, const std::string& faultArg, std::string& error);

// What became of the planned faults in one session.
struct FaultLog {
  bool ackWithheld = false;
  bool wrongReadySent = false;
  std::optional<uint32_t> silentAtBlock;  // the block whose ready packet was withheld first
  bool dropped = false;
};

// The reply as the faults shape it, or nothing when it is withheld. Once silent, the
// handset answers nothing more.
std::optional<InPacket> ShapeReply(const FaultPlan& plan, FaultLog& log, const Reply& reply);

// The byte a wrong ready packet is made of: close to the right one, so only a full check sees it.
inline constexpr uint8_t kWrongReadyByte = 0x30;

}  // namespace brenvik::handset
