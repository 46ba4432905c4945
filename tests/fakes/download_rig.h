// An image mapped from a temporary file, a link over a scripted device, a recorder and a
// clock: everything a download procedure needs, in one place.
#pragma once

#include <memory>
#include <string>

#include "download/downloads.h"
#include "fakes/image_files.h"
#include "fakes/recorder.h"
#include "fakes/scripted_device.h"

namespace brenvik::testing {

struct DownloadRig {
  TempDir dir;
  ImageView view;
  ImageEntry entry;
  UsbLink link;
  ScriptedDevice* dev = nullptr;
  Recorder shown;
  SteppingClock clock;
  int32_t errors = 0;  // failed procedures, as the run's error counter counts them
  Outcome outcome;     // of the last procedure
  Bytes image;

  DownloadRig(const std::string& name, Bytes bytes) : image(std::move(bytes)) {
    std::string path = dir.Write(name, image);
    const MapResult mapped = MapImageFile(view, path);
    entry.size = mapped.size;
    entry.sectorCount = mapped.sectorCount;
    auto d = std::make_unique<ScriptedDevice>();
    dev = d.get();
    link.Attach(std::move(d));
  }
  DownloadContext Context(int32_t kind) {
    return DownloadContext{link, view, entry, shown, kind, [this] { return clock(); }};
  }
  // Notes what a procedure came to.
  void Take(const Outcome& o) {
    outcome = o;
    errors += o.Ok() ? 0 : 1;
  }
  const uint8_t* At(size_t offset) const { return image.data() + offset; }
};

}  // namespace brenvik::testing
