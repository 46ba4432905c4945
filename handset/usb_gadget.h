// handset-sim as a USB device: a configfs gadget with one ACM function, bound to a UDC,
// whose tty (/dev/ttyGSn) the handset then serves. Linux only, as root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/device_discovery.h"

namespace brenvik::handset {

struct GadgetOptions {
  UsbId id{0x049f, 0x0003};  // parsed by the core's ParseUsbId, as brenvik-cli's --usb-id is
  std::string serial;  // empty: the device has no serial number
  std::string udc;     // empty: the first free one
};

// Where the kernel shows what the gadget needs; tests point them into a scratch folder.
struct GadgetPaths {
  std::string configfs = "/sys/kernel/config";
  std::string udcClass = "/sys/class/udc";
  std::string devices = "/dev";
  std::string locks = "/run";  // one lock per UDC: a live handset-sim holds it, a killed one does not
};

// Why no gadget could be made; each has its own exit code.
enum class GadgetFailure { kNone, kFailed, kNoConfigfs, kNoComposite, kNoUdc };

// What configfs takes as a USB string and gives back unchanged; empty on success.
std::string CheckSerial(const std::string& serial);
std::string RandomSerial();

// The UDCs under `paths.udcClass` in name order.
std::vector<std::string> ListUdcs(const GadgetPaths& paths);
// The configfs gadget (other than `except`) bound to `udc`, or "".
std::string GadgetBoundTo(const GadgetPaths& paths, const std::string& udc, const std::string& except);

class UsbGadget {
 public:
  explicit UsbGadget(GadgetPaths paths = {}) : paths_(std::move(paths)) {}
  UsbGadget(const UsbGadget&) = delete;
  UsbGadget& operator=(const UsbGadget&) = delete;
  ~UsbGadget();  // unbinds and removes the gadget

  // Takes a UDC and lays the gadget out, unbound; TtyPath() is then its tty. A gadget of
  // the same name left by a killed run is removed first.
  GadgetFailure Create(const GadgetOptions& options, std::string& error);
  // The first half of Create: a UDC taken (`udc`, or the first free one), nothing laid out.
  GadgetFailure Claim(const std::string& udc, std::string& error);
  // Plugs the device in: the host sees it from now on.
  bool Bind(std::string& error);
  // Whether it is plugged in. Reading the attribute waits for an unbind under way.
  bool Bound() const;
  // Unplugs it; the gadget stays laid out.
  void Unbind();
  void Remove();

  const std::string& Udc() const { return udc_; }
  const std::string& TtyPath() const { return tty_; }
  const std::string& Dir() const { return dir_; }

 private:
  bool TakeUdc(const std::string& udc, std::string& error);
  GadgetFailure LayOut(const GadgetOptions& options, std::string& error);

  GadgetPaths paths_;
  std::string udc_, dir_, tty_;
  int lock_ = -1;
};

}  // namespace brenvik::handset
