// Device names as Windows reads them: every spelling of one port is one device, and the
// system's own devices are known wherever the name puts them.
#include <gtest/gtest.h>

#include <string>

#include "link/device_file.h"
#include "link/device_name.h"

namespace brenvik {
namespace {

TEST(DeviceName, EverySpellingOfADeviceIsOneDevice) {
  const std::string interfacePath = "\\\\?\\root#brenvik#0000#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";
  const struct Case {
    std::string name, sameAs;
  } cases[] = {
      {"com7", "COM7"},           {"\\\\.\\COM7", "COM7"},         {"\\\\?\\com7", "COM7"},
      {"COM7:", "COM7"},          {"C:\\any\\com7.txt", "COM7"},  {"\\\\.\\com12", "COM12"},
      {"nul.txt", "NUL"},         {"AUX:", "aux"},
      {"\\\\?\\ROOT#BRENVIK#0000#{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}", interfacePath},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadDeviceName(c.name).identity, ReadDeviceName(c.sameAs).identity);
  }
  for (const char* other : {"COM1", "COM17", "C:\\any\\com7x.txt", "COM7.img\\x"}) {
    SCOPED_TRACE(other);
    EXPECT_NE(ReadDeviceName(other).identity, ReadDeviceName("COM7").identity);
  }
  EXPECT_TRUE(ReadDeviceName(interfacePath).classInterface);
  EXPECT_FALSE(ReadDeviceName("COM7").classInterface);
}

TEST(DeviceName, TheSystemsOwnDevicesAreRefusedWhereverTheNamePutsThem) {
  const struct Case {
    const char* name;
    bool system;
  } cases[] = {
      {"NUL", true},     {"nul:", true},   {"C:\\x\\nul", true},     {"nul.txt", true}, {"CON", true},
      {"CON.log", true}, {"aux.img", true}, {"PRN", true},          {"conout$", true}, {"\\\\.\\NUL", true},
      {"COM7", false},   {"COM1", false},  {"C:\\x\\null.txt", false}, {"LPT1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadDeviceName(c.name).systemDevice, c.system);
    if (!c.system) continue;
    const DeviceOpening opening = OpenDevicePath(c.name);
    EXPECT_EQ(opening.device, nullptr);
    EXPECT_EQ(opening.result.status, OpenStatus::kNotHandset);
    EXPECT_EQ(opening.result.kind, NodeKind::kCharacterDevice);
  }
}

}  // namespace
}  // namespace brenvik
