// The gadget's tty as the line: opened before the gadget is bound, so the handset's first
// words wait there for the host, as a handset's do when it is plugged in.
#pragma once

#include <string>

#include "line.h"
#include "tty_line.h"
#include "usb_gadget.h"

namespace brenvik::handset {

class GadgetLine : public Line {
 public:
  explicit GadgetLine(GadgetPaths paths = {}) : gadget_(std::move(paths)) {}
  ~GadgetLine() override {
    Close();
    gadget_.Remove();
  }

  GadgetFailure Open(const GadgetOptions& options, std::string& error) {
    if (const GadgetFailure f = gadget_.Create(options, error); f != GadgetFailure::kNone) return f;
    if (tty_.Open(gadget_.TtyPath(), error) != TtyLine::OpenResult::kOk || !gadget_.Bind(error)) {
      tty_.Close();
      gadget_.Remove();
      return GadgetFailure::kFailed;
    }
    return GadgetFailure::kNone;
  }

  int Fd() const override { return tty_.Fd(); }
  bool IsOpen() const override { return tty_.IsOpen(); }
  // Ending the link on a gadget is an unplug: the host sees the device go.
  void Close() override {
    tty_.Close();
    gadget_.Unbind();
  }

  // The function's tty hangs up on a bus reset and on a change of interface setting, which a
  // host sends while it sets the device up; only an unbound gadget is unplugged.
  bool RecoverFromHangUp() override {
    std::string error;
    return gadget_.Bound() && tty_.Reopen(error);
  }

  const std::string& TtyPath() const { return gadget_.TtyPath(); }
  const std::string& Udc() const { return gadget_.Udc(); }

 private:
  UsbGadget gadget_;
  TtyLine tty_;
};

}  // namespace brenvik::handset
