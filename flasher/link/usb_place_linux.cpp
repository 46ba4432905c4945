#include <fnmatch.h>
#include <sys/utsname.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <mutex>
#include <system_error>

#include "link/sysfs_text.h"
#include "link/usb_place.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHandsetDriver = "ipaq";
constexpr const char* kUsbfsDriver = "usbfs";

std::string KernelAliasFile() {
  struct utsname u {};
  if (::uname(&u) != 0) return "";
  return std::string("/lib/modules/") + u.release + "/modules.alias";
}

bool IsUsbDevice(const fs::path& dir) {
  std::error_code ec;
  return fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec);
}

// The ipaq driver takes only an interface with a bulk endpoint each way.
bool HasBulkPair(const fs::path& interface) {
  bool in = false, out = false;
  std::error_code ec;
  for (fs::directory_iterator it(interface, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("ep_", 0) != 0 || sysfs::ReadLine(it->path() / "type") != "Bulk") continue;
    const std::string direction = sysfs::ReadLine(it->path() / "direction");
    in |= direction == "in";
    out |= direction == "out";
  }
  return in && out;
}

// The ids the ipaq driver was given at run time (new_id, "VVVV PPPP" a line): handsets
// missing from its table, which modules.alias does not know.
bool IpaqDynamicId(const fs::path& root, const fs::path& usbDevice) {
  const std::string id = sysfs::ReadLine(usbDevice / "idVendor") + " " + sysfs::ReadLine(usbDevice / "idProduct");
  const std::string ids = sysfs::ReadAttribute(root / "bus" / "usb" / "drivers" / kHandsetDriver / "new_id").value_or("");
  for (size_t at = 0; at < ids.size();) {
    const size_t end = std::min(ids.find('\n', at), ids.size());
    if (ids.compare(at, id.size(), id) == 0 && (at + id.size() == end || ids[at + id.size()] == ' ')) return true;
    at = end + 1;
  }
  return false;
}

// An interface the ipaq driver binds, or one it would bind that usbfs holds or no driver has.
bool CarriesLink(const fs::path& root, const fs::path& interface, const std::string& aliasFile) {
  const std::string driver = sysfs::LinkName(interface / "driver");
  if (driver == kHandsetDriver) return true;
  if (!driver.empty() && driver != kUsbfsDriver) return false;
  return HasBulkPair(interface) && (IpaqAliasMatches(sysfs::ReadLine(interface / "modalias"), aliasFile) ||
                                    IpaqDynamicId(root, interface.parent_path()));
}

std::string AliasFile(const UsbLookup& where) {
  return where.modulesAlias.empty() ? KernelAliasFile() : where.modulesAlias;
}

bool ParseNumber(const std::string& text, unsigned& value, int base = 10) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value, base);
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

// The place of `interface` on `usbDevice`, with the device's node; nothing when sysfs does
// not tell it whole.
std::optional<UsbPlace> PlaceOf(const fs::path& usbDevice, const fs::path& interface) {
  UsbPlace p;
  p.usbDevice = usbDevice.string();
  p.port = usbDevice.filename().string();
  unsigned number = 0;
  if (!ParseNumber(sysfs::ReadLine(interface / "bInterfaceNumber"), number, 16)) return std::nullopt;
  p.interfaceNumber = int(number);
  p.driver = sysfs::LinkName(interface / "driver");
  const std::string dev = sysfs::ReadLine(usbDevice / "dev");
  const size_t colon = dev.find(':');
  if (colon == std::string::npos || !ParseNumber(dev.substr(0, colon), p.major) ||
      !ParseNumber(dev.substr(colon + 1), p.minor) || p.major != kUsbDeviceMajor)
    return std::nullopt;
  // The node's name as the kernel gives it; it must stay under /dev.
  const std::string name = sysfs::UeventValue(usbDevice / "uevent", "DEVNAME");
  if (name.empty() || !sysfs::HasNoControlCharacters(name) || name.front() == '/' || name.find("..") != std::string::npos)
    return std::nullopt;
  p.node = "/dev/" + name;
  if (!sysfs::HasNoControlCharacters(p.port)) return std::nullopt;
  return p;
}

// The first of a USB device's interfaces that carries the link.
std::optional<UsbPlace> LinkInterfaceOf(const fs::path& root, const fs::path& usbDevice, const std::string& aliasFile) {
  const std::string prefix = usbDevice.filename().string() + ":";
  std::vector<fs::path> interfaces;
  std::error_code ec;
  for (fs::directory_iterator it(usbDevice, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind(prefix, 0) == 0) interfaces.push_back(it->path());
  std::sort(interfaces.begin(), interfaces.end());
  for (const fs::path& interface : interfaces)
    if (CarriesLink(root, interface, aliasFile)) return PlaceOf(usbDevice, interface);
  return std::nullopt;
}

}  // namespace

bool IpaqAliasMatches(const std::string& modalias, const std::string& aliasFile) {
  if (modalias.empty() || aliasFile.empty()) return false;
  // modules.alias is over a megabyte and the station asks on every poll: its ipaq lines are
  // kept until the file changes (a new kernel's depmod).
  struct Cache {
    std::string file;
    fs::file_time_type written;
    std::vector<std::string> patterns;
  };
  static std::mutex mutex;
  static Cache cache;
  std::error_code ec;
  const fs::file_time_type written = fs::last_write_time(aliasFile, ec);
  if (ec) return false;
  std::lock_guard<std::mutex> lock(mutex);
  if (cache.file != aliasFile || cache.written != written) {
    cache = {aliasFile, written, {}};
    std::ifstream in(aliasFile);
    const std::string suffix = std::string(" ") + kHandsetDriver;
    for (std::string line; std::getline(in, line);) {
      // "alias usb:v049Fp0003d*dc*dsc*dp*ic*isc*ip*in* ipaq"
      if (line.rfind("alias usb:", 0) == 0 && line.size() > suffix.size() &&
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
        cache.patterns.push_back(line.substr(6, line.size() - suffix.size() - 6));
    }
  }
  for (const std::string& pattern : cache.patterns)
    if (::fnmatch(pattern.c_str(), modalias.c_str(), 0) == 0) return true;
  return false;
}

std::optional<UsbPlace> HandsetUsbPlace(unsigned major, unsigned minor, const UsbLookup& where) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs::Root(where.sysfsRoot), ec);
  if (ec) return std::nullopt;
  const fs::path device =
      fs::canonical(root / "dev" / "char" / (std::to_string(major) + ":" + std::to_string(minor)), ec);
  if (ec || !sysfs::Inside(root, device)) return std::nullopt;
  if (major == kUsbDeviceMajor) {
    if (!IsUsbDevice(device)) return std::nullopt;
    return LinkInterfaceOf(root, device, AliasFile(where));
  }
  // A tty: .../1-1/1-1:1.1/ttyUSB0/tty/ttyUSB0, its port bound by the ipaq driver.
  const fs::path port = fs::canonical(device / "device", ec);
  if (ec || !sysfs::Inside(root, port) || sysfs::LinkName(port / "driver") != kHandsetDriver) return std::nullopt;
  const fs::path interface = port.parent_path();
  const fs::path usbDevice = interface.parent_path();
  if (!IsUsbDevice(usbDevice) || sysfs::LinkName(interface / "driver") != kHandsetDriver) return std::nullopt;
  return PlaceOf(usbDevice, interface);
}

std::vector<UsbPlace> HandsetsWithoutTty(const UsbLookup& where) {
  std::vector<UsbPlace> found;
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs::Root(where.sysfsRoot), ec);
  if (ec) return found;
  std::vector<fs::path> interfaces;
  for (fs::directory_iterator it(root / "bus" / "usb" / "devices", ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().find(':') != std::string::npos) interfaces.push_back(it->path());
  std::sort(interfaces.begin(), interfaces.end());
  std::string aliasFile;  // read only when an interface may need it
  for (const fs::path& entry : interfaces) {
    const fs::path interface = fs::canonical(entry, ec);
    if (ec || !sysfs::Inside(root, interface)) continue;
    // One the driver has shows as its tty.
    if (sysfs::LinkName(interface / "driver") == kHandsetDriver) continue;
    const fs::path usbDevice = interface.parent_path();
    if (!IsUsbDevice(usbDevice)) continue;
    if (aliasFile.empty()) aliasFile = AliasFile(where);
    if (!CarriesLink(root, interface, aliasFile)) continue;
    std::optional<UsbPlace> place = PlaceOf(usbDevice, interface);
    if (!place) continue;
    bool seen = false;
    for (const UsbPlace& p : found) seen |= p.usbDevice == place->usbDevice;
    if (!seen) found.push_back(*place);
  }
  return found;
}

}  // namespace brenvik
