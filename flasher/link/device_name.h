// How Windows reads a device name that the user gives, and which device it names: one
// port has many spellings (COM7, com7, \\.\COM7, COM7:, C:\any\com7.txt), and a few names
// are the system's own devices wherever they appear (NUL, CON, PRN, AUX).
#pragma once

#include <string>

namespace brenvik {

struct DeviceName {
  std::string open;      // what to open: \\.\COMn for a bare COMn, else the path as given
  std::string identity;  // the same for every spelling of one device: what the system resolves it to
  bool systemDevice = false;    // NUL, CON, PRN, AUX and the console: never a handset
  bool classInterface = false;  // an interface path of the handset's class
};

// Windows only: resolves the name through the system (GetFullPathNameW, QueryDosDeviceW).
DeviceName ReadDeviceName(const std::string& path);

}  // namespace brenvik
