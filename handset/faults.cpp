#include "faults.h"

#include <charconv>

namespace brenvik::handset {
namespace {

template <typename T>
bool ParseCount(const std::string& text, T& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

bool AddFault(FaultPlan& plan, const std::string& faultArg, std::string& error) {
  const size_t eq = faultArg.find('=');
  const std::string name = faultArg.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : faultArg.substr(eq + 1);
  const bool hasValue = eq != std::string::npos;
  if (name == "no-ack" && !hasValue) {
    plan.noAck = true;
    return true;
  }
  uint32_t block = 0;
  uint64_t bytes = 0;
  if (name == "wrong-ready" && ParseCount(value, block)) {
    plan.wrongReadyBlock = block;
    return true;
  }
  if (name == "silent-from" && ParseCount(value, block)) {
    plan.silentFromBlock = block;
    return true;
  }
  if (name == "drop-after" && ParseCount(value, bytes)) {
    plan.dropAfterBytes = bytes;
    return true;
  }
  error = "unknown fault '" + faultArg + "' (no-ack, wrong-ready=N, silent-from=N, drop-after=N)";
  return false;
}

std::optional<InPacket> ShapeReply(const FaultPlan& plan, FaultLog& log, const Reply& reply) {
  if (log.silentAtBlock) return std::nullopt;
  if (reply.kind == Reply::Kind::kUpgradeAck) {
    if (!plan.noAck) return reply.bytes;
    log.ackWithheld = true;
    return std::nullopt;
  }
  if (plan.silentFromBlock && reply.block >= *plan.silentFromBlock) {
    log.silentAtBlock = reply.block;
    return std::nullopt;
  }
  if (plan.wrongReadyBlock && reply.block == *plan.wrongReadyBlock) {
    log.wrongReadySent = true;
    return MakeInPacket(kWrongReadyByte);
  }
  return reply.bytes;
}

}  // namespace brenvik::handset
