#include "station/image_cache.h"

#include <utility>

namespace brenvik::station {

std::optional<HashedImage> ImageCache::Lookup(const ImageIdentity& current) const {
  if (m_hashed && m_hashed->identity == current) return m_hashed;
  return std::nullopt;
}

std::optional<HashedImage> ImageCache::Store(const ImageIdentity& before, const ImageIdentity& after,
                                             std::string sha256) {
  if (!(before == after)) {
    m_hashed.reset();
    return std::nullopt;
  }
  m_hashed = HashedImage{before, std::move(sha256)};
  return m_hashed;
}

}  // namespace brenvik::station
