#include "download/outcome.h"

namespace brenvik {

Outcome Outcome::OfLink(Step step, uint32_t index, const LinkResult& link) {
  Cause cause = Cause::kShortTransfer;
  if (link.wrongPacket) cause = Cause::kWrongPacket;
  else if (link.status == IoStatus::kTimeout) cause = Cause::kTimeout;
  else if (link.status == IoStatus::kHangUp) cause = Cause::kHangUp;
  else if (link.status == IoStatus::kError) cause = Cause::kDeviceError;
  else if (link.status == IoStatus::kStopped) cause = Cause::kStopped;
  return Outcome{step, index, cause, link, {}};
}

}  // namespace brenvik
