// Which handsets a flash goes to: those named, every one found, or the first found.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "link/device_discovery.h"

namespace brenvik::cli {

struct Targets {
  // Empty with searchByClass: the run searches the interface class itself (Windows).
  std::vector<FoundHandset> handsets;
  bool searchByClass = false;
  bool several = false;        // the parallel form: --all, or more than one device
  std::string chosenNote;      // says which handset was taken when none was named
  std::string failure;         // no handset to flash: how to name one
};

Targets ChooseTargets(const FlashArgs& args);

DiscoveryQuery QueryFor(const std::vector<std::string>& usbIds);

}  // namespace brenvik::cli
