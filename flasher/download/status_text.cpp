#include "download/status_text.h"

#include <cstdio>

namespace brenvik {

int32_t SpeedDivisor(int64_t elapsed) {
  if (elapsed < 0) elapsed = 0;
  return int32_t(elapsed % 3600) + 1;
}

std::string FormatStatusLine(int64_t elapsed, int32_t speedKbs) {
  if (elapsed < 0) elapsed = 0;
  char line[96];
  std::snprintf(line, sizeof line, "%02d Minutes, %02d Seconds   Speed:%d KBS",
                int(elapsed / 60 % 60), int(elapsed % 60), speedKbs);
  return line;
}

int32_t BlockSpeed(uint32_t bytes, int64_t elapsed) {
  // The block figure is signed 32-bit: a byte count of 2 GiB or more shows as negative.
  return (int32_t(bytes) >> 10) / SpeedDivisor(elapsed);
}

int32_t RecordSpeed(uint32_t bytes, int64_t elapsed) {
  return int32_t((bytes >> 10) / uint32_t(SpeedDivisor(elapsed)));
}

}  // namespace brenvik
