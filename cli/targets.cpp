#include "targets.h"

#include <algorithm>

#include "same_node.h"

namespace brenvik::cli {
namespace {

std::string HowToName() {
  if (ClassSearchAvailable())
    return "check the cable and the driver, or name the handset's device with --device PATH (COMn, or a "
           "path that `brenvik-cli list` shows)";
  return "name the handset's device with --device PATH (a serial port such as /dev/ttyUSB0, or the pty "
         "that handset-sim prints), or add a handset outside the ipaq driver's table with --usb-id VID:PID";
}

// What discovery knows of a named device: its serial number for the log. The name may be
// another path to the same node (/dev/brenvik/SERIAL is a link to a ttyUSB).
FoundHandset Described(const std::string& path, const std::vector<FoundHandset>& found) {
  for (const FoundHandset& h : found) {
    if (SameNode(h.path, path)) {
      FoundHandset named = h;
      named.path = path;  // shown and opened as the user wrote it
      return named;
    }
  }
  FoundHandset named;
  named.path = path;
  return named;
}

std::string Details(const FoundHandset& h) {
  std::string d;
  auto add = [&d](const std::string& label, const std::string& value) {
    if (value.empty()) return;
    d += d.empty() ? "" : ", ";
    d += label + value;
  };
  add("", h.usbId);
  add("serial ", h.serial);
  add("USB port ", h.usbPort);
  add("", h.name);
  return d.empty() ? "" : " (" + d + ")";
}

}  // namespace

DiscoveryQuery QueryFor(const std::vector<std::string>& usbIds) {
  DiscoveryQuery query;
  for (const std::string& text : usbIds) {
    UsbId id;
    if (ParseUsbId(text, id)) query.extraIds.push_back(id);
  }
  return query;
}

Targets ChooseTargets(const FlashArgs& args) {
  Targets t;
  t.several = args.all || args.devices.size() > 1;
  if (args.devices.empty() && !args.all && ClassSearchAvailable()) {
    t.searchByClass = true;  // the dialog's own search, its messages included
    return t;
  }
  const DiscoveryResult found = FindHandsets(QueryFor(args.usbIds));
  for (const std::string& path : args.devices) t.handsets.push_back(Described(path, found.handsets));
  if (args.all)
    for (const FoundHandset& h : found.handsets)
      if (!h.path.empty()) t.handsets.push_back(h);
  // A handset named twice would only find itself busy.
  std::vector<FoundHandset> unique;
  for (const FoundHandset& h : t.handsets)
    if (std::none_of(unique.begin(), unique.end(), [&](const FoundHandset& u) { return SameNode(u.path, h.path); }))
      unique.push_back(h);
  t.handsets = std::move(unique);

  if (args.devices.empty() && !args.all) {
    for (const FoundHandset& h : found.handsets) {
      if (h.path.empty()) continue;
      t.handsets.push_back(h);
      t.chosenNote = "flashing " + h.path + Details(h) + ", the first handset found";
      break;
    }
  }
  if (t.handsets.empty())
    t.failure = found.classQueryFailed ? "the handsets could not be searched: " + HowToName()
                                       : "no handset found: " + HowToName();
  return t;
}

}  // namespace brenvik::cli
