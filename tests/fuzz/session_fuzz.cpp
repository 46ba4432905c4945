// handset-sim's session on arbitrary streams from the PC. The first byte chooses auto
// upgrade and how the stream is cut into pieces; the rest is the stream. The session must
// take no more than it is given, keep every unit within its announced length, and come to
// the same verdict whether the stream arrives whole or in pieces.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "session.h"

namespace {

using namespace brenvik::handset;

class CheckingSink : public SessionSink {
 public:
  void OnReply(const Reply& reply) override { replies += reply.kind == Reply::Kind::kReady ? 'r' : 'a'; }
  void OnUnitBegin(const DataUnit& unit) override {
    FUZZ_CHECK(!inUnit);
    inUnit = true;
    left = unit.length;
  }
  void OnUnitData(const DataUnit&, const uint8_t*, size_t size) override {
    FUZZ_CHECK(inUnit && size <= left);
    left -= size;
    data += size;
  }
  void OnUnitEnd(const DataUnit&) override {
    FUZZ_CHECK(inUnit && left == 0);
    inUnit = false;
  }
  std::string replies;
  bool inUnit = false;
  uint64_t left = 0, data = 0;
};

struct Verdict {
  SessionStats stats;
  std::vector<std::string> errors;
  bool complete = false;
  uint64_t used = 0, unitData = 0;
  std::string replies;
};

// Feeds the stream whole (seed 0) or in pieces of 1..40 bytes drawn from the seed.
Verdict Run(bool autoUpgrade, const uint8_t* data, size_t size, uint32_t seed) {
  CheckingSink sink;
  Session session(sink, autoUpgrade);
  session.Start();
  Verdict v;
  size_t at = 0;
  uint32_t x = seed | 1;
  while (at < size) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    const size_t want = seed == 0 ? size - at : std::min<size_t>(size - at, 1 + x % 40);
    const size_t used = session.Feed(data + at, want);
    FUZZ_CHECK(used <= want);
    session.Expecting();
    v.used += used;
    at += used;
    if (used < want) {
      FUZZ_CHECK(session.Finished());
      FUZZ_CHECK(session.Feed(data + at, size - at) == 0);
      break;
    }
  }
  v.stats = session.Stats();
  v.errors = session.Errors();
  v.complete = session.Complete();
  v.unitData = sink.data;
  v.replies = sink.replies;
  FUZZ_CHECK(v.stats.received == v.used);
  FUZZ_CHECK(v.stats.DataBytes() == v.unitData && v.unitData <= v.used);
  return v;
}

bool Same(const Verdict& a, const Verdict& b) {
  const SessionStats &s = a.stats, &t = b.stats;
  return a.errors == b.errors && a.complete == b.complete && a.used == b.used && a.replies == b.replies &&
         s.kind == t.kind && s.procedure == t.procedure && s.blocks == t.blocks && s.records == t.records &&
         s.boot == t.boot && s.transferEnds == t.transferEnds && s.downloadEnds == t.downloadEnds &&
         s.bootBytes == t.bootBytes && s.recordBytes == t.recordBytes && s.blockBytes == t.blockBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool autoUpgrade = data[0] & 1;
  const uint32_t seed = data[0] >> 1;
  const Verdict whole = Run(autoUpgrade, data + 1, size - 1, 0);
  const Verdict pieces = Run(autoUpgrade, data + 1, size - 1, seed + 1);
  FUZZ_CHECK(Same(whole, pieces));
  return 0;
}
