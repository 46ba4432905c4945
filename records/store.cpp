#include "store.h"

namespace brenvik::records {

std::unique_ptr<Store> OpenStore(const DbUrl& url) {
  return url.kind == DbUrl::Kind::kPostgres ? OpenPostgresStore(url) : OpenSqliteStore(url);
}

}  // namespace brenvik::records
