#include <gtest/gtest.h>

#include "station/glob.h"
#include "station/image_cache.h"
#include "station/station.h"

namespace brenvik::station {
namespace {

using namespace std::chrono_literals;

FoundHandset H(const char* path, const char* port, const char* serial, const char* driver = "ipaq") {
  FoundHandset h;
  h.path = path;
  h.usbPort = port;
  h.serial = serial;
  h.driver = driver;
  return h;
}

// One line per call: its actions, then its events.
std::string Render(const Reaction& r) {
  std::string s;
  auto add = [&](const std::string& item) { s += (s.empty() ? "" : ", ") + item; };
  for (const Action& a : r.actions) {
    const char* verb = a.kind == Action::Kind::kStart ? "start r" : a.kind == Action::Kind::kAbort ? "abort r" : "stop r";
    add(verb + std::to_string(a.run) + " " + a.device);
  }
  for (const Event& e : r.events) {
    std::string n = std::to_string(e.slot);
    switch (e.kind) {
      case Event::Kind::kArrived: add("arrived " + n); break;
      case Event::Kind::kStarted: add("started " + n + (e.attempt > 1 ? "#" + std::to_string(e.attempt) : "")); break;
      case Event::Kind::kLeft: add("left " + n); break;
      case Event::Kind::kStopRequested: add("stop requested"); break;
      case Event::Kind::kResult:
        add(n + " " + ResultName(e.result) + (e.cause.empty() ? "" : " (" + e.cause + ")") + " " + e.device);
        break;
    }
  }
  return s;
}

struct Step {
  enum { kPoll, kEnd, kStop } op;
  int64_t ms = 0;
  std::vector<FoundHandset> present;
  RunId run = 0;
  RunResult result;
  std::string expect;
};
Step Poll(int64_t ms, std::vector<FoundHandset> present, std::string expect) {
  return {Step::kPoll, ms, std::move(present), 0, {}, std::move(expect)};
}
Step End(int64_t ms, RunId run, RunStatus status, std::string expect, std::string cause = "") {
  return {Step::kEnd, ms, {}, run, {status, std::move(cause)}, std::move(expect)};
}
Step Stop(int signal, std::string expect) { return {Step::kStop, signal, {}, 0, {}, std::move(expect)}; }

TEST(Station, SnapshotSequences) {
  const FoundHandset a = H("ttyUSB0", "1-1.1", "A1"), b = H("ttyUSB1", "1-1.2", "B2");
  const std::string denied = std::string(" (") + text::kPermissionDenied + ")";
  const auto ok = RunStatus::kSuccess, failed = RunStatus::kFailed, noAccess = RunStatus::kPermissionDenied;
  struct Case {
    const char* name;
    Settings settings;
    std::vector<Step> steps;
    bool finished;
    int exitCode;
    std::string counters;  // at the last step's time
  } cases[] = {
      {"flashed once while it stays, again when it comes back", {},
       {Poll(0, {a}, "start r1 ttyUSB0, arrived 1, started 1"), End(1000, 1, ok, "1 success ttyUSB0"),
        Poll(2000, {a}, ""), Poll(3000, {}, "left 1"), Poll(4000, {a}, "start r2 ttyUSB0, arrived 1, started 1"),
        End(5000, 2, failed, "1 failed (timed out) ttyUSB0", "timed out"), Poll(6000, {a}, "")},
       false, 1, "done 1 failed 1 running 0 waiting 0"},
      {"a new handset on a port and a tty number taken by another", {},
       {Poll(0, {a}, "start r1 ttyUSB0, arrived 1, started 1"), End(10, 1, ok, "1 success ttyUSB0"),
        Poll(20, {H("ttyUSB0", "1-1.2", "C3")}, "start r2 ttyUSB0, left 1, arrived 2, started 2"),
        Poll(30, {H("ttyUSB0", "1-1.2", "C3"), H("ttyUSB1", "1-1.1", "D4")},
             "start r3 ttyUSB1, arrived 3, started 3")},
       false, 0, "done 1 failed 0 running 2 waiting 0"},
      {"unplugged mid-flash: aborted, failed whatever it says; back only once it ended", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        Poll(10, {b}, "abort r1 ttyUSB0, left 1"), Poll(20, {H("ttyUSB2", "1-1.1", "A1"), b}, "arrived 1"),
        End(30, 1, RunStatus::kUnplugged, "start r3 ttyUSB2, 1 failed (unplugged) ttyUSB0, started 1"),
        End(40, 2, ok, "2 success ttyUSB1"), End(40, 2, failed, "")},
       false, 1, "done 1 failed 1 running 1 waiting 0"},
      {"a run that settled before it heard of the unplug keeps its result, which its log line has", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        Poll(10, {}, "abort r1 ttyUSB0, abort r2 ttyUSB1, left 1, left 2"), End(20, 1, ok, "1 success ttyUSB0"),
        End(20, 2, failed, "2 failed (hang-up) ttyUSB1", "hang-up")},
       false, 1, "done 1 failed 1 running 0 waiting 0"},
      {"a serial gone before its tty: the handset leaving, never a new one, until the tty goes", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        End(10, 2, ok, "2 success ttyUSB1"),
        Poll(20, {H("ttyUSB0", "1-1.1", ""), H("ttyUSB1", "1-1.2", "")}, "abort r1 ttyUSB0, left 1, left 2"),
        Poll(30, {H("ttyUSB0", "1-1.1", "")}, ""), End(40, 1, RunStatus::kUnplugged, "1 failed (unplugged) ttyUSB0"),
        Poll(50, {}, ""), Poll(60, {H("ttyUSB0", "1-1.1", "")}, "start r3 ttyUSB0, arrived 3, started 3")},
       false, 1, "done 1 failed 1 running 1 waiting 0"},
      {"the filters leave out other ports and serials", {{{"1-1.*", "3-[1-2]"}, {"A", "X"}}, std::nullopt},
       {Poll(0, {H("ttyUSB5", "2-1", "A9"), H("ttyUSB6", "1-1.4", "B7"), H("ttyUSB7", "3-2", "X1"), a},
             "start r1 ttyUSB7, start r2 ttyUSB0, arrived 1, started 1, arrived 2, started 2")},
       false, 0, "done 0 failed 0 running 2 waiting 0"},
      {"permission denied: retried for a bounded time, then says what to do", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        End(100, 1, noAccess, ""), End(100, 2, noAccess, ""), Poll(400, {a, b}, ""),
        Poll(600, {a, b}, "start r3 ttyUSB0, start r4 ttyUSB1, started 1#2, started 2#2"),
        End(700, 4, ok, "2 success ttyUSB1"), End(4999, 3, noAccess, ""),
        Poll(5500, {a, b}, "start r5 ttyUSB0, started 1#3"), End(5600, 5, noAccess, "1 failed" + denied + " ttyUSB0"),
        Poll(6000, {a, b}, "")},
       false, 1, "done 1 failed 1 running 0 waiting 0"},
      {"a retry due when it is unplugged or the station stops fails", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        End(100, 1, noAccess, ""), End(100, 2, noAccess, ""), Poll(200, {b}, "1 failed (unplugged) ttyUSB0, left 1"),
        Stop(2, "stop requested, 2 failed" + denied + " ttyUSB1")},
       true, 1, "done 0 failed 2 running 0 waiting 0"},
      {"first stop: nothing new starts, the running ones finish", {},
       {Poll(0, {a}, "start r1 ttyUSB0, arrived 1, started 1"), Stop(2, "stop requested"),
        Poll(10, {a, b}, "arrived 2"), End(20, 1, ok, "1 success ttyUSB0"), Poll(30, {a, b}, "")},
       true, 0, "done 1 failed 0 running 0 waiting 1"},
      {"second stop: the running ones are stopped", {},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        End(5, 2, ok, "2 success ttyUSB1"), Stop(2, "stop requested"), Stop(15, "stop r1 ttyUSB0, stop requested"),
        End(20, 1, RunStatus::kStopped, "1 stopped (stopped by SIGTERM) ttyUSB0", "stopped by SIGTERM")},
       true, 128 + 15, "done 1 failed 1 running 0 waiting 0"},
      {"none came", {}, {Poll(0, {}, ""), Stop(2, "stop requested")}, true, 0, "done 0 failed 0 running 0 waiting 0"},
      {"--count: no new run after that many successes", {{}, 1},
       {Poll(0, {a, b}, "start r1 ttyUSB0, start r2 ttyUSB1, arrived 1, started 1, arrived 2, started 2"),
        End(10, 2, failed, "2 failed (hang-up) ttyUSB1", "hang-up"), End(20, 1, ok, "1 success ttyUSB0"),
        Poll(30, {H("ttyUSB2", "1-1.3", "E5")}, "left 1, left 2, arrived 3")},
       true, 1, "done 1 failed 1 running 0 waiting 1"},
      {"left flashed by the station before: not flashed while it stays",
       {{}, std::nullopt, {{{"1-1", "A1"}, "/dev/bus/usb/001/002"}}},
       {Poll(0, {H("/dev/bus/usb/001/002", "1-1", "A1", "")}, "arrived 1"),
        Poll(10, {H("/dev/bus/usb/001/002", "1-1", "A1", "")}, ""), Poll(20, {}, "left 1"),
        Poll(30, {H("ttyUSB0", "1-1", "A1")}, "start r1 ttyUSB0, arrived 1, started 1")},
       false, 0, "done 0 failed 0 running 1 waiting 0"},
      {"plugged in again while no station ran, or given a driver: flashed",
       {{}, std::nullopt, {{{"1-1", "A1"}, "/dev/bus/usb/001/002"}, {{"2-1", "B2"}, "/dev/bus/usb/002/002"}}},
       {Poll(0, {H("/dev/bus/usb/001/003", "1-1", "A1", ""), H("/dev/bus/usb/002/002", "2-1", "B2", "usbfs")},
             "start r1 /dev/bus/usb/001/003, start r2 /dev/bus/usb/002/002, arrived 1, started 1, arrived 2, "
             "started 2")},
       false, 0, "done 0 failed 0 running 2 waiting 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Time start{};
    Station station(c.settings, start);
    Time now = start;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      if (s.op != Step::kStop) now = start + std::chrono::milliseconds(s.ms);
      Reaction r = s.op == Step::kPoll  ? station.Poll(s.present, now)
                   : s.op == Step::kEnd ? station.Ended(s.run, s.result, now)
                                        : station.RequestStop(static_cast<int>(s.ms));
      EXPECT_EQ(Render(r), s.expect) << "step " << i;
    }
    EXPECT_EQ(station.Finished(), c.finished);
    EXPECT_EQ(station.ExitCode(), c.exitCode);
    Counters n = station.Count(now);
    EXPECT_EQ("done " + std::to_string(n.done) + " failed " + std::to_string(n.failed) + " running " +
                  std::to_string(n.running) + " waiting " + std::to_string(n.waiting),
              c.counters);
    EXPECT_EQ(station.Summary().size(), static_cast<size_t>(n.done + n.failed));
  }
}

TEST(Station, TellsWhatItLeavesFlashed) {
  // Only done and without a driver: a handset being flashed, failed or back with its
  // driver (plugged in again) is flashed by the next station.
  const FoundHandset a = H("ttyUSB0", "1-1", "A1"), b = H("ttyUSB1", "2-1", "B2");
  const FoundHandset aLeft = H("/dev/bus/usb/001/002", "1-1", "A1", ""), bLeft = H("/dev/bus/usb/002/002", "2-1", "B2", "");
  Station station({}, Time{});
  station.Poll({a, b}, Time{});
  EXPECT_TRUE(station.LeftFlashedNow().empty());
  station.Ended(1, {RunStatus::kSuccess, ""}, Time{});
  station.Ended(2, {RunStatus::kFailed, "timed out"}, Time{});
  EXPECT_TRUE(station.LeftFlashedNow().empty());  // the tty it ran on: not yet left
  station.Poll({aLeft, bLeft}, Time{});
  EXPECT_EQ(station.LeftFlashedNow(), (std::vector<LeftFlashed>{{{"1-1", "A1"}, "/dev/bus/usb/001/002"}}));
  station.Poll({H("ttyUSB0", "1-1", "A1"), bLeft}, Time{});
  EXPECT_TRUE(station.LeftFlashedNow().empty());
}

TEST(Station, SlotTextsAndRate) {
  Station station({}, Time{});
  station.Poll({H("ttyUSB0", "1-1.1", "A1"), H("COM5", "", "B2")}, Time{});
  station.Ended(1, {RunStatus::kSuccess, ""}, Time{} + 30min);
  station.Ended(2, {RunStatus::kFailed, "timed out"}, Time{} + 30min);
  std::vector<Slot> slots = station.Slots();
  ASSERT_EQ(slots.size(), 2u);
  EXPECT_EQ(StateText(slots[0]), "done: unplug");
  EXPECT_EQ(StateText(slots[1]), "failed (timed out): unplug to retry");
  EXPECT_EQ(slots[1].identity.port, "COM5");  // no USB port told: the device path stands for it
  EXPECT_DOUBLE_EQ(station.Count(Time{} + 30min).perHour, 2.0);
  EXPECT_DOUBLE_EQ(Station({}, Time{}).Count(Time{} + 1h).perHour, 0.0);
}

TEST(Station, ATableAsLargeAsItsPorts) {
  // A line's handsets are new ones through the same ports: the table must not keep them all.
  const FoundHandset stays = H("ttyUSB1", "1-1.2", "STAYS");
  Station station({}, Time{});
  station.Poll({stays}, Time{});
  station.Ended(1, {RunStatus::kSuccess, ""}, Time{});
  for (int i = 0; i < 300; ++i) {
    std::string serial = "N";  // appended: gcc 12 for i686 sees a false overlap in "N" + ...
    serial += std::to_string(i);
    station.Poll({H("ttyUSB0", "1-1.1", serial.c_str()), stays}, Time{});
    station.Ended(RunId(i + 2), {RunStatus::kSuccess, ""}, Time{});
    station.Poll({stays}, Time{});
  }
  const std::vector<Slot> slots = station.Slots();
  ASSERT_EQ(slots.size(), 2u);
  EXPECT_EQ(slots[0].state, SlotState::kDone);  // the one that stayed is not flashed again
  EXPECT_EQ(slots[1].id, 301);                   // nor is an id given twice
  EXPECT_EQ(station.Count(Time{}).done, 301);
  EXPECT_EQ(station.Summary().size(), 301u);
}

TEST(Glob, ShellPatterns) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"1-1.*", "1-1.2", true},     {"1-1.*", "1-1", false},       {"1-1.*", "1-1.2.3", true},
      {"*", "", true},              {"", "", true},                {"", "x", false},
      {"1-?", "1-2", true},         {"1-?", "1-", false},          {"1-?", "1-23", false},
      {"[12]-1", "2-1", true},      {"[12]-1", "3-1", false},      {"3-[1-4]", "3-4", true},
      {"3-[1-4]", "3-5", false},    {"3-[!1-4]", "3-5", true},     {"3-[^1-4]", "3-2", false},
      {"[]x]", "]", true},          {"[a-]", "-", true},           {"1-[2", "1-[2", true},
      {"1-\\*", "1-*", true},       {"1-\\*", "1-2", false},       {"\\?", "x", false},
      {"*.*.1", "1-1.2.1", true},   {"*2*3", "1-2.3.2", false},    {"a*b*c*d", "aXbXXcXdY", false},
      {"**1", "2-1", true},         {"*\\", "a\\", true},
  };
  for (const auto& c : cases) EXPECT_EQ(GlobMatch(c.pattern, c.text), c.match) << c.pattern << " on " << c.text;
}

TEST(ImageCache, HashedAgainOnlyWhenTheFileChanged) {
  const ImageIdentity id{1, 2, 3, 4, 5};
  struct Case {
    const char* name;
    ImageIdentity later;
    bool holds;
  } cases[] = {
      {"same file", id, true},
      {"another device", {9, 2, 3, 4, 5}, false},
      {"replaced by another file", {1, 9, 3, 4, 5}, false},
      {"another size", {1, 2, 9, 4, 5}, false},
      {"written", {1, 2, 3, 9, 5}, false},
      {"its times put back", {1, 2, 3, 4, 9}, false},
  };
  for (const auto& c : cases) {
    ImageCache cache;
    EXPECT_FALSE(cache.Lookup(id)) << "nothing hashed yet";
    ASSERT_TRUE(cache.Store(id, id, "ab12"));
    std::optional<HashedImage> got = cache.Lookup(c.later);
    EXPECT_EQ(got.has_value(), c.holds) << c.name;
    if (got) {
      EXPECT_EQ(got->sha256, "ab12");
    }
  }
  ImageCache cache;
  EXPECT_FALSE(cache.Store(id, {1, 2, 3, 9, 9}, "ab12")) << "changed while hashed";
  EXPECT_FALSE(cache.Lookup(id));
}

}  // namespace
}  // namespace brenvik::station
