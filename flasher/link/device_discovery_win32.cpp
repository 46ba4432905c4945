// Finding handsets through SetupAPI: every present interface of their class, in enumeration
// order, with what the registry tells of each device (its name, its location on the USB, its
// COM port, its USB id).
// The wide calls are used throughout: names and paths travel as UTF-8, as everywhere else.
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <vector>

#include "link/device_discovery.h"
#include "link/protocol.h"
#include "win32/text.h"

namespace brenvik {
namespace {

// The class GUID from its one written form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
constexpr uint32_t HexAt(std::string_view s, size_t at, size_t digits) {
  uint32_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    char c = s[at + i];
    v = v * 16 + uint32_t(c >= 'a' ? c - 'a' + 10 : c >= 'A' ? c - 'A' + 10 : c - '0');
  }
  return v;
}

constexpr GUID ParseGuid(std::string_view s) {
  GUID g{};
  g.Data1 = HexAt(s, 1, 8);
  g.Data2 = uint16_t(HexAt(s, 10, 4));
  g.Data3 = uint16_t(HexAt(s, 15, 4));
  constexpr size_t kTail[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (size_t i = 0; i < 8; ++i) g.Data4[i] = uint8_t(HexAt(s, kTail[i], 2));
  return g;
}

static_assert(std::string_view(HANDSET_INTERFACE_CLASS).size() == 38);
constexpr GUID kInterfaceClass = ParseGuid(HANDSET_INTERFACE_CLASS);

// Registry strings need not end in a terminator, and may hold more than one: the text up to
// the first one, within the bytes actually returned.
std::string TextOf(const wchar_t* text, size_t maxChars) {
  size_t length = 0;
  while (length < maxChars && text[length] != L'\0') ++length;
  return length ? win32::Narrow(text, int(length)) : std::string();
}

std::string TextOf(const std::vector<wchar_t>& buffer, DWORD bytes) {
  return TextOf(buffer.data(), std::min<size_t>(bytes / sizeof(wchar_t), buffer.size()));
}

// The interface's path, or "" when the system does not tell it; `device` is filled with the
// device behind it when the path could be read.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry, SP_DEVINFO_DATA& device) {
  DWORD required = 0;
  // Only asks for the size: reported as a failure while it fills `required`.
  ::SetupDiGetDeviceInterfaceDetailW(set, &entry, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return {};
  std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));  // DWORD-aligned
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  device.cbSize = sizeof device;
  if (!::SetupDiGetDeviceInterfaceDetailW(set, &entry, detail, required, nullptr, &device)) {
    device.cbSize = 0;
    return {};
  }
  return TextOf(detail->DevicePath,
                (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t));
}

// A string property of the device; "" when it has none or it is no string.
std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  std::vector<wchar_t> buffer(128);
  // Twice at most: the second time with the size the first one asked for.
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD type = 0, required = 0;
    if (::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                            reinterpret_cast<BYTE*>(buffer.data()),
                                            DWORD(buffer.size() * sizeof(wchar_t)), &required))
      return type == REG_SZ ? TextOf(buffer, required) : std::string();
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    buffer.resize(required / sizeof(wchar_t) + 1);
  }
  return {};
}

// Where the device is plugged in, "Port_#0004.Hub_#0003", as the system (or whatever wrote the
// registry) says. A text with control characters is no location: the station matches its
// --usb-port patterns against this and keys its handsets by it, as it does with sysfs paths.
std::string Location(HDEVINFO set, SP_DEVINFO_DATA& device) {
  std::string location = DeviceProperty(set, device, SPDRP_LOCATION_INFORMATION);
  const bool control = std::any_of(location.begin(), location.end(),
                                   [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
  return control ? std::string() : location;
}

// "COM5" from the device's hardware key, where a port driver wrote it.
std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
  // INVALID_HANDLE_VALUE, not null, when the device has no such key.
  HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE || key == nullptr) return {};
  std::string port;
  std::vector<wchar_t> buffer(32);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD type = 0, bytes = DWORD(buffer.size() * sizeof(wchar_t));
    const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (status == ERROR_SUCCESS) {
      if (type == REG_SZ) port = TextOf(buffer, bytes);
      break;
    }
    if (status != ERROR_MORE_DATA) break;
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
  ::RegCloseKey(key);
  return port;
}

// From a USB device's instance id, "USB\VID_049F&PID_0003\SERIAL": the id, and the serial
// where the device has one (Windows makes up an id with '&' in it for those without, and a
// composite device's interface, "...&MI_00", has its parent's made-up id there).
void ReadUsbIdentity(HDEVINFO set, SP_DEVINFO_DATA& device, FoundHandset& found) {
  wchar_t buffer[256];  // instance ids are at most 200 characters
  if (!::SetupDiGetDeviceInstanceIdW(set, &device, buffer, DWORD(std::size(buffer)), nullptr)) return;
  const std::string id = TextOf(buffer, std::size(buffer));
  const size_t first = id.find('\\');
  const size_t second = first == std::string::npos ? first : id.find('\\', first + 1);
  if (second == std::string::npos || id.compare(0, first, "USB") != 0) return;
  const std::string hardware = id.substr(first + 1, second - first - 1);
  // "VID_049F&PID_0003", optionally followed by "&MI_00".
  if (hardware.size() < 17 || hardware.compare(0, 4, "VID_") != 0 || hardware.compare(8, 5, "&PID_") != 0) return;
  UsbId usb;
  if (!ParseUsbId(hardware.substr(4, 4) + ":" + hardware.substr(13, 4), usb)) return;
  found.usbId = UsbIdText(usb);
  const std::string instance = id.substr(second + 1);
  if (hardware.size() == 17 && !instance.empty() && instance.find('&') == std::string::npos)
    found.serial = instance;
}

}  // namespace

DiscoveryResult FindHandsets(const DiscoveryQuery&) {
  DiscoveryResult result;
  HDEVINFO set = ::SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    result.classQueryFailed = true;
    return result;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &kInterfaceClass, index, &entry)) break;
    FoundHandset found;
    SP_DEVINFO_DATA device{};
    found.path = InterfacePath(set, entry, device);
    if (device.cbSize) {
      found.name = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
      // Only port-class drivers give a friendly name; the driver's description names the rest.
      if (found.name.empty()) found.name = DeviceProperty(set, device, SPDRP_DEVICEDESC);
      found.usbPort = Location(set, device);
      found.comPort = PortName(set, device);
      ReadUsbIdentity(set, device, found);
    }
    result.handsets.push_back(std::move(found));
  }
  // ERROR_NO_MORE_ITEMS ends the list; any other failure ends it just the same.
  ::SetupDiDestroyDeviceInfoList(set);
  return result;
}

bool ClassSearchAvailable() { return true; }

}  // namespace brenvik
