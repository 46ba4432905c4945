// The flasher's download run against handset-sim over a real pty.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "run/download_run.h"
#include "pc_streams.h"
#include "sim_process.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Bytes;
using testing::Pattern;
using testing::TestRecord;
using Clock = std::chrono::steady_clock;

struct MessageLog : MessageSink {
  std::vector<std::string> texts;
  void ShowMessage(const std::string& text, MessageCaption) override { texts.push_back(text); }
};

struct ProgressLog : ProgressReporter {
  uint32_t range = 0, position = 0;
  std::string status;
  void SetRange(uint32_t m) override { range = m; }
  void SetPosition(uint32_t p) override { position = p; }
  void SetStatus(const std::string& s) override { status = s; }
};

struct Outcome {
  std::vector<std::string> messages;
  std::optional<int> simExit;
  json summary;
  std::chrono::milliseconds took{};
};

class PtyEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("handset-e2e-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(::getpid()));  // runs of two builds at once never share a folder
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    testing::WriteFile(path, bytes);
    return path;
  }
  Bytes Out(const std::string& name) const { return testing::ReadFile((dir_ / "out" / name).string()); }

  // What the dialog's flash button does, up to the final message; the messages shown.
  static std::vector<std::string> Download(const std::string& image, bool autoUpgrade, const std::string& device) {
    MessageLog messages;
    ProgressLog progress;
    DownloadRun run(messages, progress);
    FlashOptions options;
    options.autoUpgrade = autoUpgrade;
    options.devicePath = device;
    options.timeout = std::chrono::seconds(2);
    EXPECT_EQ(run.Prepare(image, options), PrepareResult::kReady);
    run.RunToEnd();
    return messages.texts;
  }

  // One download run of `image` against a fresh handset-sim, as the dialog's flash button does.
  // The handset holds it against `reference`, or against `image` itself.
  Outcome Flash(const std::string& image, bool autoUpgrade, std::vector<std::string> simArgs,
                const std::string& reference = "") {
    Outcome o;
    const auto start = Clock::now();
    testing::SimProcess sim;
    std::string error;
    simArgs.insert(simArgs.end(), {"--out", (dir_ / "out").string(), "--expect", reference.empty() ? image : reference});
    if (!autoUpgrade) simArgs.push_back("--no-auto-upgrade");
    EXPECT_TRUE(sim.Start(HANDSET_SIM_PATH, simArgs, error)) << error;
    const std::optional<std::string> pty = sim.FirstLine(std::chrono::seconds(5));
    EXPECT_TRUE(pty && pty->rfind("/dev/pts/", 0) == 0) << (pty ? *pty : "no path");
    if (!pty) return o;
    o.messages = Download(image, autoUpgrade, *pty);
    o.simExit = sim.Wait(std::chrono::seconds(15));
    o.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    std::ifstream summary(dir_ / "out" / "summary.json");
    if (summary) o.summary = json::parse(summary, nullptr, false);
    return o;
  }

  fs::path dir_;
};

const std::vector<TestRecord> kRecords = {
    {0x80001000, Pattern(5000, 1)}, {0x80003000, {}}, {0x80004000, Pattern(70000, 2)}, {0, Pattern(100, 3)}};

TEST_F(PtyEndToEnd, EveryProcedureArrivesWhole) {
  const Bytes boot = Pattern(BOOT_AREA_SIZE, 7);
  std::vector<TestRecord> bigRecords;
  for (uint32_t i = 0; i < 9; ++i) bigRecords.push_back({0x80000000 + i * 0x10000, Pattern(60000 + i, 10 + i)});
  struct Case {
    const char* name;
    std::string file;
    Bytes image;
    bool autoUpgrade;
    int kind;
    const char* procedure;
    std::vector<std::pair<const char*, Bytes>> files;  // what must land in the output directory
    const char* finalText;
  } cases[] = {
      {"dio of 40 blocks", "big.dio", Pattern(10485760, 1), true, 1, "blocks", {}, text::kUpdateSuccess},
      {"dio of 2 blocks", "small.dio", Pattern(300000, 2), true, 1, "blocks", {}, text::kUpdateSuccess},
      {"img", "nk.img", testing::Concat(boot, testing::BinStreamFile(kRecords)), true, 5, "records",
       {{"boot.bin", boot}, {"records.bin", testing::ReceivedRecordsFile(kRecords)}}, text::kUpdateSuccess},
      {"raw", "boot.raw", testing::Concat(boot, Pattern(1000, 3)), true, 7, "records",
       {{"boot.bin", boot}, {"records.bin", testing::ReceivedRecordsFile({})}}, text::kUpdateSuccess},
      {"large bin", "nk.bin", testing::BinStreamFile(bigRecords), true, 6, "records",
       {{"records.bin", testing::ReceivedRecordsFile(bigRecords)}}, text::kUpdateSuccess},
      {"img without auto upgrade goes by blocks", "plain.img", testing::Concat(boot, testing::BinStreamFile(kRecords)),
       false, -1, "blocks", {}, text::kUpdateSuccess},
      {"a file of kind 9 is sent and fails on the PC", "notes.txt", Pattern(1000, 4), true, 9, "blocks", {},
       text::kUpdateFail},
  };
  for (auto& c : cases) {
    if (std::string(c.procedure) == "blocks") c.files.push_back({"image.bin", c.image});
    const Outcome o = Flash(Write(c.file, c.image), c.autoUpgrade, {"--timeout", "10"});
    ASSERT_FALSE(o.messages.empty()) << c.name;
    EXPECT_EQ(o.messages.back(), c.finalText) << c.name;
    EXPECT_EQ(o.simExit, 0) << c.name;
    ASSERT_TRUE(o.summary.is_object()) << c.name;
    const json& s = o.summary;
    EXPECT_EQ(s["kind"], c.kind < 0 ? json(nullptr) : json(c.kind)) << c.name;
    EXPECT_EQ(s["procedure"], c.procedure) << c.name;
    EXPECT_EQ(s["complete"], true) << c.name;
    EXPECT_EQ(s["protocol_errors"], json::array()) << c.name;
    EXPECT_EQ(s["matches_expected"], true) << c.name << ": " << s.value("expected_difference", "");
    for (const auto& [name, content] : c.files) EXPECT_TRUE(Out(name) == content) << c.name << ": " << name;
    if (std::string(c.procedure) == "records") {
      EXPECT_EQ(s["commands"]["download_end"], 2) << c.name << ": the end command comes twice";
    }
  }
}

TEST_F(PtyEndToEnd, SummaryCountsWhatArrived) {
  const Bytes boot = Pattern(BOOT_AREA_SIZE, 7);
  const Bytes image = testing::Concat(boot, testing::BinStreamFile(kRecords));
  const Outcome o = Flash(Write("nk.img", image), true, {});
  const json& s = o.summary;
  EXPECT_EQ(s["auto_upgrade"], true);
  EXPECT_EQ(s["records"], 3);  // the empty record is not sent
  EXPECT_EQ(s["commands"]["transfer_end"], 4);
  EXPECT_EQ(s["bytes"]["boot"], BOOT_AREA_SIZE);
  EXPECT_EQ(s["bytes"]["records"], 75100);
  EXPECT_EQ(s["bytes"]["total_data"], BOOT_AREA_SIZE + 75100);
  ASSERT_EQ(s["record_list"].size(), 3u);
  const json& last = s["record_list"][2];
  EXPECT_EQ(last["address"], 0);
  EXPECT_EQ(last["length"], 100);
  EXPECT_EQ(last["sum"], testing::SumOf(kRecords[3].data));
  EXPECT_EQ(last["checksum_ok"], true);
}

TEST_F(PtyEndToEnd, InjectedFaultsEndInBoundedTime) {
  const Bytes boot = Pattern(BOOT_AREA_SIZE, 7);
  struct Case {
    const char* name;
    std::string file;
    Bytes image;
    const char* fault;
    const char* finalText;
    int simExit;
    const char* simError;  // a part of the sim's protocol error, if it has one
  } cases[] = {
      {"no acknowledgement", "a.dio", Pattern(300000, 1), "no-ack", text::kUpdateSuccess, 0, nullptr},
      {"wrong ready packet", "b.dio", Pattern(300000, 2), "wrong-ready=1", text::kUpdateFail, 1,
       "timed out waiting for block header 1"},
      {"handset falls silent", "c.dio", Pattern(300000, 3), "silent-from=0", text::kUpdateFail, 1,
       "stopped answering before block 0"},
      {"link dropped in a block download", "d.dio", Pattern(10485760, 4), "drop-after=100000", text::kUpdateFail, 1,
       nullptr},
      // Far more than the pty buffers after the cut, so the PC cannot have written it all.
      {"link dropped in a record download", "e.img",
       testing::Concat(boot, testing::BinStreamFile({{0x80001000, Pattern(1000000, 5)}})), "drop-after=140000",
       text::kUpdateFail, 1, nullptr},
  };
  for (const Case& c : cases) {
    // The handset waits longer than the PC, which may be silent for its whole read bound.
    const Outcome o = Flash(Write(c.file, c.image), true, {"--timeout", "3", "--fault", c.fault});
    ASSERT_FALSE(o.messages.empty()) << c.name;
    EXPECT_EQ(o.messages.back(), c.finalText) << c.name;
    const bool noAck = std::string(c.fault) == "no-ack";
    EXPECT_EQ(o.messages.front() == text::kUpgradeError, noAck) << c.name << ": " << o.messages.front();
    EXPECT_EQ(o.simExit, c.simExit) << c.name;
    EXPECT_LT(o.took, std::chrono::seconds(12)) << c.name;
    ASSERT_TRUE(o.summary.is_object()) << c.name;
    EXPECT_EQ(o.summary["complete"], noAck) << c.name;
    ASSERT_EQ(o.summary["faults"].size(), 1u) << c.name;
    EXPECT_EQ(o.summary["faults"][0]["injected"], true) << c.name;
    const json& errors = o.summary["protocol_errors"];
    if (c.simError) {
      ASSERT_EQ(errors.size(), 1u) << c.name;
      EXPECT_NE(errors[0].get<std::string>().find(c.simError), std::string::npos) << c.name << ": " << errors[0];
    } else {
      EXPECT_TRUE(errors.empty()) << c.name << ": " << errors;
    }
  }
}

// The PC sees a flawless run; the handset knows better and says so in its exit status.
TEST_F(PtyEndToEnd, AMismatchWithTheReferenceEndsInExitOne) {
  const Bytes image = Pattern(600000, 5);
  Bytes reference = image;
  reference[1000] ^= 1;
  for (size_t i = 300000; i < 300050; ++i) reference[i] ^= 0xFF;
  const Outcome o = Flash(Write("a.dio", image), true, {"--timeout", "10"}, Write("reference.dio", reference));
  ASSERT_FALSE(o.messages.empty());
  EXPECT_EQ(o.messages.back(), text::kUpdateSuccess);
  EXPECT_EQ(o.simExit, 1);
  ASSERT_TRUE(o.summary.is_object());
  EXPECT_EQ(o.summary["complete"], true);
  EXPECT_EQ(o.summary["protocol_errors"], json::array());
  EXPECT_EQ(o.summary["matches_expected"], false);
  EXPECT_EQ(o.summary["expected_differences"],
            json({"byte 1000 differs from the reference", "bytes 300000..300049 differ from the reference"}));
  EXPECT_EQ(o.summary["expected_difference"], "byte 1000 differs from the reference");
  EXPECT_EQ(o.summary["expected_differences_unlisted"], 0);
}

// The reference is read from its file: cut short under a slow session, it is a difference
// in the summary, not a signal that ends the handset.
TEST_F(PtyEndToEnd, AReferenceCutShortDuringTheSessionIsADifference) {
  const Bytes image = Pattern(600000, 5);
  const std::string reference = Write("reference.dio", image);
  std::thread cut([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fs::resize_file(reference, 1000);
  });
  const Outcome o = Flash(Write("a.dio", image), true, {"--timeout", "10", "--rate", "512"}, reference);
  cut.join();
  EXPECT_EQ(o.simExit, 1);
  ASSERT_TRUE(o.summary.is_object());
  EXPECT_EQ(o.summary["matches_expected"], false);
  EXPECT_EQ(o.summary["expected_difference"], "the reference image changed or was cut short during the session");
}

TEST(HandsetSimOptions, TimesAndTheRateMustBeFiniteAndInRange) {
  struct Case {
    std::vector<std::string> args;
    bool starts;  // else refused as bad usage
  } cases[] = {
      {{"--timeout", "nan"}, false}, {{"--timeout", "inf"}, false}, {{"--timeout", "0"}, false},
      {{"--timeout", "-1"}, false},  {{"--linger", "nan"}, false},  {{"--linger", "inf"}, false},
      {{"--rate", "nan"}, false},    {{"--rate", "-inf"}, false},
      {{"--timeout", "2.5", "--linger", "0", "--rate", "0"}, true},
  };
  for (const Case& c : cases) {
    const std::string name = ::testing::PrintToString(c.args);
    testing::SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start(HANDSET_SIM_PATH, c.args, error)) << error;
    if (c.starts) {
      const std::optional<std::string> pty = sim.FirstLine(std::chrono::seconds(5));
      EXPECT_TRUE(pty && pty->rfind("/dev/pts/", 0) == 0) << name;
    } else {
      EXPECT_EQ(sim.Wait(std::chrono::seconds(5)), 2) << name;
    }
  }
}

// handset-sim writes only what is its own: a file of its names it did not write, or the
// reference, is refused at start; a link planted where a temporary might go is not
// followed; closed standard descriptors are taken by no file of its. No PC comes: a run
// that starts times out, but writes its summary.
TEST_F(PtyEndToEnd, WritesOnlyFilesOfItsOwn) {
  const fs::path out = dir_ / "out";
  const std::string pty = (dir_ / "pty").string();
  const Bytes mine = Pattern(100, 9);
  struct Case {
    const char* name;
    std::function<std::vector<std::string>()> setUp;  // lays out `out`; the extra arguments
    std::vector<const char*> kept;                     // files of `mine` that must stay so
    int exit;
    bool closedDescriptors = false;
  } cases[] = {
      {"a file it did not write", [&] { Write("out/image.bin", mine); return std::vector<std::string>{}; },
       {"out/image.bin"}, 2},
      {"the reference, in a folder of its own",
       [&] {
         Write("out/.handset-sim", {});
         return std::vector<std::string>{"--expect", Write("out/records.bin", mine)};
       },
       {"out/records.bin"}, 2},
      {"links planted at the old temporary names",
       [&] {
         fs::create_symlink(Write("victim", mine), out / "summary.json.part");
         fs::create_symlink(dir_ / "victim", pty + ".part");
         return std::vector<std::string>{};
       },
       {"victim"}, 1},
      {"standard descriptors closed", [] { return std::vector<std::string>{}; }, {}, 1, true},
  };
  for (const Case& c : cases) {
    fs::remove_all(out);
    fs::remove(pty);
    fs::create_directories(out);
    std::vector<std::string> args = c.setUp();
    args.insert(args.end(), {"--path-file", pty, "--out", out.string(), "--timeout", "0.3"});
    std::string program = HANDSET_SIM_PATH;
    if (c.closedDescriptors) {
      std::string line = "exec " + program;
      for (const std::string& a : args) line += " '" + a + "'";
      args = {"-c", line + " <&- >&- 2>&-"};
      program = "/bin/sh";
    }
    testing::SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start(program, args, error)) << error;
    EXPECT_EQ(sim.Wait(std::chrono::seconds(10)), c.exit) << c.name;
    for (const char* kept : c.kept) EXPECT_TRUE(testing::ReadFile((dir_ / kept).string()) == mine) << c.name << ": " << kept;
    if (c.exit == 2) continue;
    std::ifstream summary(out / "summary.json");
    const json s = json::parse(summary, nullptr, false);
    ASSERT_TRUE(s.is_object()) << c.name;
    EXPECT_EQ(s["bytes"]["received"], 0) << c.name << ": nothing of its own may reach the pty";
  }
}

// Waiting for the PC must sleep in poll(), not spin on reads that find nothing: a spinning
// handset takes a core from the flasher it serves. Held as a share of its own lifetime.
TEST(HandsetSimWaiting, CostsNoProcessorTime) {
  auto childCpu = [] {
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    return std::chrono::seconds(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           std::chrono::microseconds(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
  };
  const auto cpuBefore = childCpu();
  const auto start = Clock::now();
  testing::SimProcess sim;
  std::string error;
  ASSERT_TRUE(sim.Start(HANDSET_SIM_PATH, {"--timeout", "1"}, error)) << error;
  ASSERT_TRUE(sim.FirstLine(std::chrono::seconds(5)));
  EXPECT_EQ(sim.Wait(std::chrono::seconds(10)), 1);  // no PC came
  const auto lived = Clock::now() - start;
  const auto cpu = childCpu() - cpuBefore;
  EXPECT_LT(cpu * 4, lived) << "CPU " << std::chrono::duration<double>(cpu).count() << " s in "
                            << std::chrono::duration<double>(lived).count() << " s";
}

// As a shell job (a process-group leader, which cannot start a session of its own) with
// --sessions 0: one run after another through the symlink, until it is told to stop.
TEST_F(PtyEndToEnd, ServesRunsInARowUntilStopped) {
  const std::string link = (dir_ / "handset").string(), pathFile = (dir_ / "pty").string();
  testing::SimProcess sim;
  std::string error;
  ASSERT_TRUE(sim.Start(HANDSET_SIM_PATH,
                        {"--sessions", "0", "--out", (dir_ / "out").string(), "--link", link, "--path-file", pathFile,
                         "--timeout", "5", "--linger", "1"},
                        error, /*ownGroup=*/true))
      << error;
  const std::optional<std::string> pty = sim.FirstLine(std::chrono::seconds(5));
  ASSERT_TRUE(pty);
  EXPECT_EQ(fs::read_symlink(link).string(), *pty);
  const std::string line = *pty + "\n";
  EXPECT_EQ(testing::ReadFile(pathFile), Bytes(line.begin(), line.end()));

  const Bytes boot = Pattern(BOOT_AREA_SIZE, 7);
  const std::string dio = Write("a.dio", Pattern(300000, 1));
  const std::string img = Write("b.img", testing::Concat(boot, testing::BinStreamFile(kRecords)));
  EXPECT_EQ(Download(dio, true, link).back(), text::kUpdateSuccess);
  EXPECT_EQ(Download(img, true, link).back(), text::kUpdateSuccess);
  // The PC is done when its last bytes are in the pty; the handset, when it has read them.
  const fs::path lastSummary = dir_ / "out" / "session-2" / "summary.json";
  for (int i = 0; i < 500 && !fs::exists(lastSummary); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Waiting for a third run that never comes is no failure.
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(std::chrono::seconds(10)), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the symlink outlived the handset";

  auto summary = [&](int n) {
    std::ifstream f(dir_ / "out" / ("session-" + std::to_string(n)) / "summary.json");
    return json::parse(f, nullptr, false);
  };
  EXPECT_EQ(summary(1)["kind"], 1);
  EXPECT_EQ(summary(1)["complete"], true);
  EXPECT_EQ(summary(2)["kind"], 5);
  EXPECT_EQ(summary(2)["commands"]["download_end"], 2);
  EXPECT_EQ(summary(2)["complete"], true);
  EXPECT_EQ(testing::ReadFile((dir_ / "out" / "session-2" / "boot.bin").string()), boot);
  EXPECT_FALSE(fs::exists(dir_ / "out" / "session-3"));
}

}  // namespace
}  // namespace brenvik
