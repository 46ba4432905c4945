// The kind of a file-system node from its mode, on POSIX.
#pragma once

#include <sys/stat.h>

#include "link/node_kind.h"

namespace brenvik {

inline NodeKind NodeKindOf(mode_t mode) {
  if (S_ISREG(mode)) return NodeKind::kRegularFile;
  if (S_ISDIR(mode)) return NodeKind::kDirectory;
  if (S_ISBLK(mode)) return NodeKind::kBlockDevice;
  if (S_ISFIFO(mode)) return NodeKind::kFifo;
  if (S_ISSOCK(mode)) return NodeKind::kSocket;
  if (S_ISCHR(mode)) return NodeKind::kCharacterDevice;
  return NodeKind::kUnknown;
}

}  // namespace brenvik
