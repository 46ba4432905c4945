#include "run/classify.h"

#include "link/protocol.h"

namespace brenvik {

Classification ClassifyImage(const std::string& path, uint32_t size) {
  // No dot is looked for, and case matters: "abin" is a bin, "x.BIN" is not.
  const std::string ext = path.size() >= 3 ? path.substr(path.size() - 3) : std::string();
  if (ext == "img") return {KIND_IMG, "img: boot area and BIN records"};
  if (ext == "dio" || ext == "DIO") return {KIND_DIO, "dio: plain blocks"};
  if (ext == "bin" && size > 512000) return {KIND_LARGE_BIN, "bin above 512000 bytes: BIN records"};
  if (ext == "bin" && size > 307200) return {KIND_SMALL_BIN, "bin of 307201..512000 bytes: plain blocks"};
  const bool nb0 = ext == "nb0" || ext == "NB0";
  if (nb0 && size == 2048) return {KIND_NB0_SMALL, "nb0 of 2048 bytes: plain blocks"};
  if (nb0 && size == 262144) return {KIND_NB0_LARGE, "nb0 of 262144 bytes: plain blocks"};
  if (ext == "raw" || ext == "RAW") return {KIND_RAW, "raw: boot area only"};
  if (ext == "bin") return {KIND_NOT_CORRECT, "bin of 307200 bytes or less is not a correct file"};
  if (nb0) return {KIND_NOT_CORRECT, "nb0 must be 2048 or 262144 bytes"};
  return {KIND_NOT_CORRECT, "unknown extension (img, dio/DIO, bin, nb0/NB0, raw/RAW)"};
}

}  // namespace brenvik
