#include "sweep_run.h"

#include "fakes/recorder.h"
#include "fakes/view_guard.h"

namespace brenvik::testing {

SweepRun RunSweepCase(const SweepCase& c, const std::string& path, Fault fault, size_t opBudget) {
  SweepRun out;
  Recorder shown;
  DownloadRun run(shown, shown, [] { return int64_t(1'000'000); });
  ViewGuard guard(c.image.size());
  FaultyDevice* dev = nullptr;
  FlashOptions options;
  options.autoUpgrade = c.autoUpgrade;
  options.timeout = kSweepBound;
  // Called once the image is mapped: the guards and the bounds go around that view.
  options.deviceFactory = [&]() -> std::unique_ptr<DeviceFile> {
    const ImageView& view = run.View();
    out.guarded = guard.Settle(view.Data(), view.Size());
    auto device = std::make_unique<FaultyDevice>(std::make_unique<MemoryHandset>(c.autoUpgrade, c.units), fault,
                                                 opBudget, ViewBounds{view.Data(), view.Size()}, kSweepBound);
    dev = device.get();
    return device;
  };

  const auto start = std::chrono::steady_clock::now();
  out.prepared = run.Prepare(path, options);
  if (out.prepared != PrepareResult::kReady || !dev) return out;
  out.opsBeforeDownload = dev->Ops().size();
  out.outcome = run.Download();
  out.ok = out.outcome.Ok();
  out.opsAfterDownload = dev->Ops().size();
  out.messages = shown.MessageTexts();
  out.finalText = DownloadRun::FinalText(out.ok);
  run.Finish();
  out.took = std::chrono::steady_clock::now() - start;

  out.ops = dev->Ops();
  out.faulted = dev->FaultedRole();
  out.allUnitsArrived = dev->Handset().AllUnitsArrived();
  out.handsetComplete = dev->Handset().Session().Complete() && !dev->Handset().Session().Failed();
  out.outsideWrites = dev->OutsideWrites();
  out.runaway = dev->Runaway();
  out.unboundedWait = dev->UnboundedWait();
  return out;
}

}  // namespace brenvik::testing
