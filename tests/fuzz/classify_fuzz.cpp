// Classification on arbitrary paths and sizes: the first four bytes are the size (little
// endian), the rest the path, NUL bytes and all. Held against the table as users know it,
// and against the procedure the handset expects for the kind.
#include <cstdint>
#include <string>

#include "run/classify.h"
#include "run/download_run.h"
#include "fuzz_check.h"
#include "session.h"

namespace {

using namespace brenvik;

struct Rule {
  const char* ext;
  uint32_t least, most;
  int32_t kind;
};

constexpr uint32_t kAny = 0xFFFFFFFFu;
constexpr Rule kTable[] = {
    {"img", 0, kAny, 5},         {"dio", 0, kAny, 1},         {"DIO", 0, kAny, 1},
    {"bin", 512001, kAny, 6},    {"bin", 307201, 512000, 2},  {"nb0", 2048, 2048, 3},
    {"NB0", 2048, 2048, 3},      {"nb0", 262144, 262144, 4},  {"NB0", 262144, 262144, 4},
    {"raw", 0, kAny, 7},         {"RAW", 0, kAny, 7},
};

int32_t KindFromTable(const std::string& path, uint32_t size) {
  if (path.size() < 3) return 9;
  const std::string ext = path.substr(path.size() - 3);
  for (const Rule& r : kTable)
    if (ext == r.ext && size >= r.least && size <= r.most) return r.kind;
  return 9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t imageSize = 0;
  for (size_t i = 0; i < 4 && i < size; ++i) imageSize |= uint32_t(data[i]) << (8 * i);
  const std::string path = size > 4 ? std::string(reinterpret_cast<const char*>(data) + 4, size - 4) : "";
  const Classification c = ClassifyImage(path, imageSize);
  FUZZ_CHECK(c.kind == KindFromTable(path, imageSize));
  FUZZ_CHECK(c.reason != nullptr && c.reason[0] != '\0');
  // The flasher's procedure for the kind is the one the handset gets ready for.
  const bool records = ProcedureFor(c.kind) != Procedure::kBlocks;
  FUZZ_CHECK(records == (handset::TransferForKind(c.kind) == handset::Transfer::kRecords));
  return 0;
}
