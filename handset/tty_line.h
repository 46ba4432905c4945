// A serial device that exists already (a USB gadget's /dev/ttyGSn, a null-modem cable),
// served in place of a pty of our own: held exclusively and raw while served, and left
// with the settings it had.
#pragma once

#include <string>

#include <termios.h>

#include "line.h"

namespace brenvik::handset {

class TtyLine : public Line {
 public:
  enum class OpenResult { kOk, kNotTerminal, kFailed };

  TtyLine() = default;
  TtyLine(const TtyLine&) = delete;
  TtyLine& operator=(const TtyLine&) = delete;
  ~TtyLine() override;

  // kNotTerminal: `path` is missing or is not a terminal, and nothing was written to it.
  OpenResult Open(const std::string& path, std::string& error);
  // Opens the same device anew after a hang-up, as Open does; the settings to restore stay
  // those it had before the first open.
  bool Reopen(std::string& error);
  // A device that is still there after a hang-up is opened anew: a USB gadget's tty hangs up
  // when the host resets the bus or takes the interface from its driver, a serial port when
  // its carrier drops; neither is the PC gone.
  bool RecoverFromHangUp() override {
    std::string error;
    return Reopen(error);
  }
  // Lets what was written reach the far side (bounded), restores the device's settings
  // and closes it.
  void Close() override;

  int Fd() const override { return fd_; }
  bool IsOpen() const override { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  bool Take(const std::string& path, int fd, std::string& error);
  bool MakeRaw(std::string& error);
  void DrainBriefly();
  void RestoreSettings();

  int fd_ = -1;
  std::string path_;
  termios saved_{};
  bool haveSaved_ = false;
};

}  // namespace brenvik::handset
