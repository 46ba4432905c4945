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
};

}  // namespace brenvik::handset
