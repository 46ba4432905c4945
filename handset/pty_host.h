// The pty the PC side opens as its device. The caller must already lead its own session:
// the slave becomes this process's controlling terminal, so no one else (a wineserver)
// adopts it and a 0x03 byte or a hang-up cannot kill someone else's processes.
#pragma once

#include <string>

#include "line.h"

namespace brenvik::handset {

class PtyHost : public Line {
 public:
  PtyHost() = default;
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;
  ~PtyHost() override;

  // Opens the master, puts the slave in raw mode and makes it the controlling terminal;
  // the slave stays open for the host's life, so the PC may close and reopen it.
  bool Open(std::string& error);
  // Also makes `path` a symlink to the slave, replacing an earlier symlink there.
  bool AddLink(const std::string& path, std::string& error);
  // Closes slave and master: the PC's next read or write fails. The link goes too.
  void Close() override;

  int Fd() const override { return master_; }
  bool IsOpen() const override { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string link_;
};

// Makes the calling process lead a new session. False when it leads a process group
// already; then a child must do it.
bool StartOwnSession();

}  // namespace brenvik::handset
