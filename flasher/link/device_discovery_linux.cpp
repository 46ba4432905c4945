// Finding handsets on Linux in sysfs: every tty that the ipaq usb-serial driver bound, and
// any ttyUSB or ttyACM whose USB device has an id the caller names (a handset missing from
// the driver's table, bound by another driver).

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <tuple>

#include "link/device_discovery.h"
#include "link/sysfs_text.h"
#include "link/usb_place.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHandsetDriver = "ipaq";

using sysfs::LinkName;
using sysfs::HasNoControlCharacters;
using sysfs::ReadAttribute;
using sysfs::ReadLine;

// The node's name under /dev: the kernel's DEVNAME, which may name a subfolder, else the
// tty's own name. Nothing when DEVNAME would lead out of /dev or cannot be shown.
std::optional<std::string> DevName(const fs::path& ttyEntry) {
  const std::string uevent = ReadAttribute(ttyEntry / "uevent").value_or("");
  for (size_t at = 0; at < uevent.size();) {
    const size_t end = std::min(uevent.find('\n', at), uevent.size());
    const std::string line = uevent.substr(at, end - at);
    at = end + 1;
    if (line.rfind("DEVNAME=", 0) != 0) continue;
    const std::string name = line.substr(8);
    const fs::path rel(name);
    const bool inside = !name.empty() && rel.is_relative() &&
                        std::none_of(rel.begin(), rel.end(), [](const fs::path& part) { return part == ".."; });
    if (!inside || !HasNoControlCharacters(name)) return std::nullopt;
    return name;
  }
  return ttyEntry.filename().string();
}

// The tty's device folder and the USB device above it (the first ancestor with an id).
struct TtyPlace {
  fs::path device;
  fs::path usbDevice;
};

// A USB interface's folder: "1-1.4:1.0", its device's name, the configuration and the number.
bool IsInterface(const std::string& name) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string tail = name.substr(colon + 1);
  const size_t dot = tail.find('.');
  auto digits = [](const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return dot != std::string::npos && digits(tail.substr(0, dot)) && digits(tail.substr(dot + 1));
}

bool HasIds(const fs::path& usbDevice) {
  std::error_code ec;
  return fs::exists(usbDevice / "idVendor", ec) && fs::exists(usbDevice / "idProduct", ec);
}

// The tree's own devices only: a link out of the tree leads to no handset of it.
bool Place(const fs::path& root, const fs::path& ttyEntry, TtyPlace& place) {
  std::error_code ec;
  place.device = fs::canonical(ttyEntry / "device", ec);
  if (ec) return false;
  if (std::mismatch(root.begin(), root.end(), place.device.begin(), place.device.end()).first != root.end())
    return false;
  for (fs::path p = place.device; p != root && p.has_relative_path(); p = p.parent_path()) {
    // An interface's device is its parent: one whose attributes the kernel is taking away
    // (a handset being unplugged) is no handset, and its hub above it is none either.
    if (IsInterface(p.filename().string())) {
      place.usbDevice = p.parent_path();
      return HasIds(place.usbDevice);
    }
    if (HasIds(p)) {
      place.usbDevice = p;
      return true;
    }
  }
  return false;
}

// A tty of a USB serial driver: "ttyUSB" or "ttyACM" and a number that fits.
struct TtyName {
  std::string name;
  std::string prefix;
  uint64_t number = 0;
  // ttyACM before ttyUSB, ttyUSB2 before ttyUSB10.
  bool operator<(const TtyName& o) const { return std::tie(prefix, number) < std::tie(o.prefix, o.number); }
};

std::optional<TtyName> ParseTtyName(const std::string& name) {
  for (const char* prefix : {"ttyACM", "ttyUSB"}) {
    if (name.rfind(prefix, 0) != 0) continue;
    TtyName tty{name, prefix};
    const char* first = name.data() + tty.prefix.size();
    const char* last = name.data() + name.size();
    if (first == last) return std::nullopt;
    const auto [end, ec] = std::from_chars(first, last, tty.number);
    if (ec != std::errc() || end != last) return std::nullopt;
    return tty;
  }
  return std::nullopt;
}

}  // namespace

// No entry of the tree, however it is laid out, stops the others from being found.
DiscoveryResult FindHandsets(const DiscoveryQuery& query) {
  DiscoveryResult result;
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs::Root(query.sysfsRoot), ec);
  if (ec) return result;
  const fs::path ttys = root / "class" / "tty";
  std::vector<TtyName> names;
  for (fs::directory_iterator it(ttys, ec), end; !ec && it != end; it.increment(ec))
    if (auto tty = ParseTtyName(it->path().filename().string())) names.push_back(*tty);
  std::sort(names.begin(), names.end());
  for (const TtyName& tty : names) {
    const fs::path ttyEntry = ttys / tty.name;
    TtyPlace place;
    if (!Place(root, ttyEntry, place)) continue;
    FoundHandset h;
    h.driver = LinkName(place.device / "driver");
    UsbId id;
    const bool hasId = ParseUsbId(ReadLine(place.usbDevice / "idVendor") + ":" +
                                      ReadLine(place.usbDevice / "idProduct"), id);
    const bool named = hasId && std::find(query.extraIds.begin(), query.extraIds.end(), id) != query.extraIds.end();
    if (h.driver != kHandsetDriver && !named) continue;
    const std::optional<std::string> devName = DevName(ttyEntry);
    if (!devName) continue;
    h.path = "/dev/" + *devName;
    if (hasId) h.usbId = UsbIdText(id);
    h.serial = sysfs::ReadValue(place.usbDevice / "serial");
    h.usbPort = place.usbDevice.filename().string();
    if (!HasNoControlCharacters(h.usbPort)) h.usbPort.clear();
    result.handsets.push_back(std::move(h));
  }
  // A handset that a flasher talks to over usbfs has no tty while it does, nor for a moment
  // when the driver gives it up or takes it back: it is still the same handset, present.
  for (const UsbPlace& place : HandsetsWithoutTty({root.string(), query.modulesAlias})) {
    const bool shown = std::any_of(result.handsets.begin(), result.handsets.end(),
                                   [&](const FoundHandset& h) { return h.usbPort == place.port; });
    if (shown) continue;
    FoundHandset h;
    h.path = place.node;
    h.driver = place.driver;
    UsbId id;
    if (ParseUsbId(ReadLine(fs::path(place.usbDevice) / "idVendor") + ":" +
                       ReadLine(fs::path(place.usbDevice) / "idProduct"), id))
      h.usbId = UsbIdText(id);
    h.serial = sysfs::ReadValue(fs::path(place.usbDevice) / "serial");
    h.usbPort = place.port;
    result.handsets.push_back(std::move(h));
  }
  return result;
}

bool ClassSearchAvailable() { return false; }

}  // namespace brenvik
