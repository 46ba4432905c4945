// The handset's end of the link, whatever carries it: a pty of its own, or a serial device
// that exists already (a USB gadget's tty, a null-modem cable).
#pragma once

namespace brenvik::handset {

class Line {
 public:
  virtual ~Line() = default;
  // Non-blocking: the serving loop waits with poll().
  virtual int Fd() const = 0;
  virtual bool IsOpen() const = 0;
  // Ends the link: the PC's next read or write fails.
  virtual void Close() = 0;
  // After a hang-up: true when the far side is still there and the line was opened anew
  // (a USB device's tty hangs up on a bus reset too); false when the link is gone.
  virtual bool RecoverFromHangUp() { return false; }
};

}  // namespace brenvik::handset
