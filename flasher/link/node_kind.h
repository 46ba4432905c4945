// What a path names, where it is not what the caller needs: told to the user by the programs.
#pragma once

namespace brenvik {

enum class NodeKind {
  kUnknown,
  kRegularFile,
  kDirectory,
  kBlockDevice,      // a disk
  kFifo,             // a named pipe on POSIX
  kSocket,
  kCharacterDevice,  // one that is not a terminal (/dev/null)
  kPipe,             // a pipe on Windows
  kDiskOrFile,       // Windows cannot tell these apart by their handle
};

}  // namespace brenvik
