#include "run_identity.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "download/sha256.h"
#include "host_facts.h"

namespace brenvik::cli {
namespace {

// 16 bytes no other run gets. Linux: the kernel's random numbers. Windows 2000 has no call
// for them that every version keeps, so the time, the process, a counter and the stack's
// address are hashed: unique, which is all a run id must be.
std::array<uint8_t, 16> UniqueBytes() {
  std::array<uint8_t, 16> bytes{};
  if (SystemRandomBytes(bytes)) return bytes;
  static std::atomic<uint64_t> counter{0};
  struct {
    uint64_t clock, steady, count, pid;
    const void* stack;
  } seed{uint64_t(std::chrono::system_clock::now().time_since_epoch().count()),
         uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()), ++counter, ProcessId(), &bytes};
  Sha256 sha;
  sha.Update(reinterpret_cast<const uint8_t*>(&seed), sizeof seed);
  const auto digest = sha.Final();
  std::memcpy(bytes.data(), digest.data(), bytes.size());
  return bytes;
}

}  // namespace

std::string NewRunId() {
  std::array<uint8_t, 16> b = UniqueBytes();
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4: random
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);  // the variant of RFC 4122
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += {digits[b[i] >> 4], digits[b[i] & 15]};
  }
  return id;
}

std::string StationName() { return HostName(); }

}  // namespace brenvik::cli
