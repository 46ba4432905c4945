// Finding the handset through SetupAPI: present interfaces of its class, in enumeration order.
#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include <string_view>
#include <vector>

#include "link/device_discovery.h"
#include "link/protocol.h"

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

// The interface's path, or "" when the system does not tell it.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& entry) {
  DWORD required = 0;
  // Only asks for the size: reported as a failure while it fills `required`.
  ::SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};
  std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));  // DWORD-aligned
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!::SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, required, nullptr, nullptr)) return {};
  return detail->DevicePath;
}

}  // namespace

DiscoveryResult FindHandsetInterfaces() {
  DiscoveryResult result;
  HDEVINFO set = ::SetupDiGetClassDevsA(&kInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    result.classQueryFailed = true;
    return result;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &kInterfaceClass, index, &entry)) break;
    result.paths.push_back(InterfacePath(set, entry));
  }
  // ERROR_NO_MORE_ITEMS ends the list; any other failure ends it just the same.
  ::SetupDiDestroyDeviceInfoList(set);
  return result;
}

bool ClassSearchAvailable() { return true; }

}  // namespace brenvik
