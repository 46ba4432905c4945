// The station's image hash, kept between runs: the file is hashed again only when the system
// says it is another file or has changed. Pure: the caller reads the identity and hashes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brenvik::station {

// What the system tells of a file without reading it.
struct ImageIdentity {
  uint64_t device = 0;  // st_dev; Windows: the volume serial number
  uint64_t inode = 0;   // st_ino; Windows: the file index
  uint64_t size = 0;
  int64_t mtimeNs = 0;  // Windows: the last write time
  int64_t ctimeNs = 0;  // Windows: 0, it has no change time
  bool operator==(const ImageIdentity&) const = default;
};

// What one run flashes: an image as it was when hashed, and its hash.
struct HashedImage {
  ImageIdentity identity;
  std::string sha256;
};

class ImageCache {
 public:
  // The pair for a new run when `current`, read just now, is the file that was hashed;
  // nothing when it must be hashed (again).
  std::optional<HashedImage> Lookup(const ImageIdentity& current) const;
  // The caller hashed the file, reading its identity before and after. Kept and handed out
  // only when they agree; otherwise the file changed while it was read and the hash is of
  // no version of it: nothing, and the caller hashes again.
  std::optional<HashedImage> Store(const ImageIdentity& before, const ImageIdentity& after, std::string sha256);

 private:
  std::optional<HashedImage> m_hashed;
};

}  // namespace brenvik::station
