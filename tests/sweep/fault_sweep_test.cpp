// The fault sweep: every device operation of a clean run of each procedure is failed in
// every way a device fails, one run per fault, and each run is held to the outcome rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "fakes/view_guard.h"
#include "fakes/recorder.h"
#include "sweep_run.h"

namespace brenvik::testing {
namespace {

constexpr auto kRunBound = std::chrono::seconds(10);
constexpr FaultMode kModes[] = {FaultMode::kError, FaultMode::kShortWrite, FaultMode::kShortRead,
                                FaultMode::kReadTimeout, FaultMode::kWrongReady};

// Operations that carry or pace image data: failing one must fail the run at once.
bool CarriesData(OpRole role) {
  switch (role) {
    case OpRole::kReadyRead:
    case OpRole::kBlockHeader:
    case OpRole::kDataHeader:
    case OpRole::kImageBytes:
    case OpRole::kTransferEnd:
    case OpRole::kDrain: return true;
    default: return false;
  }
}

std::vector<std::string> Violations(const SweepRun& r, OpRole role, size_t op) {
  std::vector<std::string> v;
  auto need = [&v](bool holds, const char* what) {
    if (!holds) v.push_back(what);
  };
  need(r.faulted == role, "the fault did not strike the operation of the clean run");
  need(!r.ok || r.allUnitsArrived, "success reported though the handset lacks data");
  need(r.outsideWrites == 0, "bytes from outside the image were sent");
  need(!r.runaway && r.took < kRunBound, "the run did not end within its bound");
  need(!r.unboundedWait, "a device wait without the run's bound");
  if (CarriesData(role)) {
    need(!r.ok && r.finalText == text::kUpdateFail, "a failed data transfer did not fail the run");
    need(r.opsAfterDownload == op + 1, "the procedure went on after the failed transfer");
    need(r.outcome.link.status != IoStatus::kOk || r.outcome.cause == Cause::kWrongPacket ||
             r.outcome.cause == Cause::kShortTransfer,
         "a failed run without the device's cause");
    const Step step = role == OpRole::kReadyRead ? Step::kReady
                      : role == OpRole::kDrain   ? Step::kEnd
                                                 : r.outcome.step;
    need(r.outcome.step == step && step != Step::kNone, "the failure names the wrong step");
    return v;
  }
  switch (role) {
    case OpRole::kAckRead:
      need(r.messages == std::vector<std::string>{text::kUpgradeError}, "no upgrade-error message");
      need(r.ok, "the run did not go on past a missing acknowledgement");
      break;
    case OpRole::kKindPacket:
      need(r.messages.empty(), "a message about the kind packet");
      need(r.opsAfterDownload > r.opsBeforeDownload, "the run stopped at the kind packet");
      break;
    case OpRole::kDownloadEnd:
    case OpRole::kSecondEnd:
      need(r.ok && r.finalText == text::kUpdateSuccess, "a failed end command failed the run");
      break;
    default: v.push_back("the fault struck an operation the sweep does not know");
  }
  return v;
}

// Compared piece by piece: no image-sized buffer per run.
bool FileHolds(const std::string& path, const Bytes& image) {
  std::ifstream f(path, std::ios::binary);
  static char piece[1 << 16];
  size_t at = 0;
  while (f.read(piece, sizeof piece) || f.gcount() > 0) {
    const size_t n = size_t(f.gcount());
    if (n > image.size() - at || std::memcmp(piece, image.data() + at, n) != 0) return false;
    at += n;
  }
  return at == image.size();
}

struct Tally {
  std::map<FaultMode, size_t> injected;
  size_t runs = 0, falseSuccesses = 0, hangs = 0, outside = 0, changedFiles = 0, guarded = 0;
  size_t Faults() const {
    size_t n = 0;
    for (const auto& [mode, count] : injected) n += count;
    return n;
  }
  void Count(const SweepRun& r, bool fileKept) {
    ++runs;
    falseSuccesses += r.ok && !r.allUnitsArrived;
    hangs += r.runaway || r.took >= kRunBound;
    outside += r.outsideWrites > 0;
    changedFiles += !fileKept;
    guarded += r.guarded;
  }
};

void Report(const std::string& name, const Tally& t) {
  std::string modes;
  for (const auto& [mode, count] : t.injected) modes += std::string(modes.empty() ? "" : ", ") + FaultModeName(mode) + " " + std::to_string(count);
  std::printf("[sweep] %s: faults injected %zu (%s); runs %zu; false successes %zu; hangs %zu; "
              "runs that sent bytes from outside the image %zu; image files changed %zu; runs with guard pages %zu\n",
              name.c_str(), t.Faults(), modes.c_str(), t.runs, t.falseSuccesses, t.hangs, t.outside,
              t.changedFiles, t.guarded);
  ::testing::Test::RecordProperty("faults_injected", int(t.Faults()));
  ::testing::Test::RecordProperty("runs", int(t.runs));
}

class FaultSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, EveryOperationFailedInEveryWayEndsByTheRules) {
  const std::vector<SweepCase> cases = SweepCases();
  const SweepCase& c = cases[GetParam()];
  TempDir dir;
  const std::string path = dir.Write(c.fileName, c.image);
  Tally tally;

  const SweepRun clean = RunSweepCase(c, path, {}, size_t(1) << 30);
  tally.Count(clean, FileHolds(path, c.image));
  ASSERT_EQ(clean.prepared, PrepareResult::kReady);
  ASSERT_EQ(clean.outsideWrites, 0u) << c.name << ": the clean run sent bytes from outside the image";
  ASSERT_TRUE(clean.ok && clean.allUnitsArrived && clean.handsetComplete) << c.name << ": the clean run failed";
  ASSERT_TRUE(clean.messages.empty());
  ASSERT_TRUE(std::any_of(clean.ops.begin(), clean.ops.end(), [](const OpRecord& op) { return op.role == OpRole::kDrain; }))
      << c.name << ": success was told before the device had taken every byte";
  const size_t budget = clean.ops.size() + 2;

  for (FaultMode mode : kModes) {
    for (size_t k = 0; k < clean.ops.size(); ++k) {
      const OpRecord& op = clean.ops[k];
      if (!FaultApplies(mode, op.write, op.size)) continue;
      const SweepRun r = RunSweepCase(c, path, {mode, k}, budget);
      ASSERT_EQ(r.prepared, PrepareResult::kReady);
      ++tally.injected[mode];
      const bool kept = FileHolds(path, c.image);
      tally.Count(r, kept);
      std::vector<std::string> wrong = Violations(r, op.role, k);
      if (!kept) wrong.push_back("the image file changed");
      for (const std::string& w : wrong)
        ADD_FAILURE() << c.name << ": " << FaultModeName(mode) << " at operation " << k << " ("
                      << OpRoleName(op.role) << "): " << w;
    }
  }
  Report(c.name, tally);
  EXPECT_EQ(tally.falseSuccesses + tally.hangs + tally.outside + tally.changedFiles, 0u);
  EXPECT_GT(tally.Faults(), clean.ops.size());
}

// The sweep's claim that nothing reads outside the image rests on these guards.
TEST(FaultSweepGuard, AReadJustPastEitherEndOfTheViewFaults) {
  for (const SweepCase& c : SweepCases()) {
    TempDir dir;
    const std::string path = dir.Write(c.fileName, c.image);
    Recorder shown;
    ImageView view;
    ViewGuard guard(c.image.size());
    ASSERT_EQ(MapImageFile(view, path).size, c.image.size());
    ASSERT_TRUE(guard.Settle(view.Data(), view.Size())) << c.name;
    const volatile uint8_t* p = view.Data();
    EXPECT_EQ(p[0], c.image.front());
    EXPECT_EQ(p[view.Size() - 1], c.image.back());
    EXPECT_DEATH((void)p[view.Size()], "") << c.name;
    EXPECT_DEATH((void)p[-1], "") << c.name;
  }
}

std::string CaseName(const ::testing::TestParamInfo<size_t>& info) {
  static const char* const names[] = {"PlainBlocks", "Img", "Raw", "LargeBin", "ImgInBlocksNoAutoUpgrade"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Procedures, FaultSweep, ::testing::Range<size_t>(0, 5), CaseName);

}  // namespace
}  // namespace brenvik::testing
