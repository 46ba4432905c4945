#include "commands.h"
#include "text/json_text.h"
#include "link/device_discovery.h"
#include "link/protocol.h"
#include "text/printable.h"
#include "targets.h"

namespace brenvik::cli {

using text::JsonLine;
using text::Printable;
using text::TextOrNull;

namespace {

void PrintJson(const DiscoveryResult& found, std::FILE* out) {
  nlohmann::json list = nlohmann::json::array();
  for (const FoundHandset& h : found.handsets) {
    nlohmann::json entry{{"path", TextOrNull(h.path)},     {"usb_id", TextOrNull(h.usbId)},
                         {"serial", TextOrNull(h.serial)}, {"usb_port", TextOrNull(h.usbPort)},
                         {"name", TextOrNull(h.name)},     {"driver", TextOrNull(h.driver)}};
    if (ClassSearchAvailable()) entry["com_port"] = TextOrNull(h.comPort);  // Linux has no COM names
    list.push_back(std::move(entry));
  }
  std::fprintf(out, "%s\n", JsonLine(list).c_str());
}

void PrintText(const DiscoveryResult& found, std::FILE* out) {
  const bool windows = ClassSearchAvailable();
  for (size_t i = 0; i < found.handsets.size(); ++i) {
    const FoundHandset& h = found.handsets[i];
    std::fprintf(out, "%zu: %s%s\n", i, h.path.empty() ? "(path could not be read)" : Printable(h.path).c_str(),
                 i == 0 ? "  <- flashed by default" : "");
    auto line = [out](const char* label, const std::string& value) {
      if (!value.empty()) std::fprintf(out, "   %-9s %s\n", label, Printable(value).c_str());
    };
    line("name:", h.name);
    if (windows) line("port:", h.comPort);
    line("usb port:", h.usbPort);
    line("usb id:", h.usbId);
    line("serial:", h.serial);
    line("driver:", h.driver);
  }
}

}  // namespace

int RunList(const ListArgs& args, std::FILE* out) {
  const DiscoveryResult found = FindHandsets(QueryFor(args.usbIds));
  if (args.json) {
    PrintJson(found, out);
    return found.handsets.empty() ? kExitNoDevice : kExitOk;
  }
  if (found.classQueryFailed) {
    std::fprintf(out, "The interface class %s could not be queried.\n", HANDSET_INTERFACE_CLASS);
    return kExitNoDevice;
  }
  if (found.handsets.empty()) {
    if (ClassSearchAvailable())
      std::fprintf(out, "No handset present (interface class %s).\n", HANDSET_INTERFACE_CLASS);
    else
      std::fprintf(out,
                   "No handset found: no tty of the ipaq driver%s.\n"
                   "Name the handset's device with --device PATH: a serial port such as\n"
                   "/dev/ttyUSB0 or /dev/ttyACM0, or the pty path that handset-sim prints.\n"
                   "A handset missing from the driver's table: --usb-id VID:PID, or see the README.\n",
                   args.usbIds.empty() ? "" : " and no ttyUSB/ttyACM of the USB ids given");
    return kExitNoDevice;
  }
  PrintText(found, out);
  return kExitOk;
}

}  // namespace brenvik::cli
