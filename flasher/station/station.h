// The rules of a flashing station: every handset is flashed once as it is plugged in, until
// the station is stopped. A state machine without I/O, threads or clock reads, like the
// handset emulator's session: the caller feeds it discovery snapshots, the ends of the runs
// it started and the time, carries out the actions it returns and shows its events.
//
// The caller's loop:
//   Station station(settings, Clock::now());
//   every poll:       apply(station.Poll(FindHandsets().handsets, Clock::now()));
//   a run ended:      apply(station.Ended(run, result, Clock::now()));
//   SIGINT/SIGTERM:   apply(station.RequestStop(signal));
//   until station.Finished(); then print Summary() and return ExitCode().
// where apply() starts a run for each kStart (on its own thread, reporting its end back
// with the action's run id), sets the run's stop flag for kAbort and kStop, and hands the
// events to the presenters. The texts in events (device, port, serial, cause) come from
// outside: escape them before they reach a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/device_discovery.h"
#include "station/filter.h"
#include "station/result.h"

namespace brenvik::station {

using Clock = std::chrono::steady_clock;
using Time = Clock::time_point;

// A tty appears before udev hands it to plugdev: an open refused for lack of permission is
// tried again this often, until this long after the first try.
inline constexpr std::chrono::milliseconds kPermissionRetryEvery{500};
inline constexpr std::chrono::milliseconds kPermissionRetryFor{5000};

namespace text {
inline constexpr char kUnplugged[] = "unplugged";
// Also told by a flash that the same refusal ends.
inline constexpr char kPermissionHint[] =
    "add the user to the group plugdev and install the udev rule (see the README)";
inline const std::string kPermissionDenied = std::string("permission denied: ") + kPermissionHint;
inline constexpr char kStopped[] = "stopped";
}  // namespace text

// "The same handset": the same port and serial. Not the device path, which the kernel gives
// to the next handset plugged in.
struct Identity {
  std::string port;  // the usb_port, or the device path where the system tells none
  std::string serial;
  bool operator==(const Identity&) const = default;
};

using RunId = uint64_t;  // from 1; each start action has its own

// How a run ended, as the caller tells it.
enum class RunStatus {
  kSuccess,
  kFailed,            // `cause` says why
  kPermissionDenied,  // the device could not be opened for lack of permission
  kStopped,           // its stop flag ended it
  kUnplugged,         // it heard of its abort (the handset left) before it settled its result
};

struct RunResult {
  RunStatus status = RunStatus::kSuccess;
  std::string cause;  // one line, for kFailed
};

enum class SlotState {
  kWaiting,  // plugged in, not started: the station is stopping or has its count
  kRunning,  // a run is going, or a retry after a permission denial is due
  kDone,     // flashed; stays so until unplugged
  kFailed,   // failed; stays so until unplugged, then a new plug-in flashes it again
  kGone,     // not plugged in
};

// One per identity, from the first time it was plugged in, until another handset comes to
// its port while it is gone and nothing of it is pending.
struct Slot {
  int id = 0;  // from 1, in order of first arrival
  Identity identity;
  std::string device;  // the path it was last seen at
  SlotState state = SlotState::kGone;
  std::string cause;   // kFailed: why
  int session = 0;     // how often it was plugged in
};

// "waiting", "flashing", "done: unplug", "failed (CAUSE): unplug to retry", "gone".
std::string StateText(const Slot& slot);

struct Action {
  enum class Kind {
    kStart,  // start a run on `device`; report its end with Ended(run, ...)
    kAbort,  // the handset was unplugged during the run: set the run's stop flag
    kStop,   // the second stop request: set the run's stop flag
  };
  Kind kind = Kind::kStart;
  RunId run = 0;
  int slot = 0;
  std::string device;
};

struct Event {
  enum class Kind { kArrived, kStarted, kResult, kLeft, kStopRequested };
  Kind kind = Kind::kArrived;
  int slot = 0;  // 0 for kStopRequested
  std::string device, usbPort, serial;  // usbPort as in Identity::port
  int attempt = 0;                      // kStarted: 1, then 2... for the permission retries
  Result result = Result::kSuccess;     // kResult
  std::string cause;                    // kResult: why it failed
};

// What one call asks of the caller and tells its presenters, in order.
struct Reaction {
  std::vector<Action> actions;
  std::vector<Event> events;
};

// One ended flash (its last attempt) in the summary.
struct RunRecord {
  int slot = 0;
  Identity identity;
  std::string device;
  Result result = Result::kSuccess;
  std::string cause;
};

struct Counters {
  int done = 0;     // flashes that succeeded in the session
  int failed = 0;   // flashes that failed or were stopped
  int running = 0;  // going now, retries due included
  int waiting = 0;  // plugged in, not started
  double perHour = 0;  // done per hour since the start; 0 until the first is done
};

// A handset flashed by an earlier station that may still be plugged in: where it was, and the
// node it was left at, without a driver, after its run. A USB device's node names its bus and
// device number, which the next plug-in changes; so a handset found again there, still
// without a driver, never left, and stays flashed across a restart of the station.
struct LeftFlashed {
  Identity identity;
  std::string device;
  bool operator==(const LeftFlashed&) const = default;
};

struct Settings {
  // Handsets the filter refuses are ignored: no slot, no event.
  Filter filter;
  // After this many successful flashes no new run starts, and the station finishes when
  // the running ones end. Runs already going may take it past the count.
  std::optional<int> count;
  // What the station before this one left flashed: found so, not flashed again.
  std::vector<LeftFlashed> leftFlashed;
};

class Station {
 public:
  Station(Settings settings, Time start);

  // A discovery snapshot: every handset present now. Starts the new arrivals, aborts the
  // runs of those that left, and tries again the permission denials that are due. The
  // kernel takes a USB device's serial away before its tty: a handset without a serial on
  // the port and tty of one that had a serial is that one leaving, and no arrival.
  Reaction Poll(const std::vector<FoundHandset>& present, Time now);
  // A run started by an action ended. Unknown or already ended runs are ignored. A run
  // that settled its result before it heard of its abort keeps that result (the log has
  // it already); one that heard of it failed as unplugged.
  Reaction Ended(RunId run, const RunResult& result, Time now);
  // The first request: nothing new starts, the running flashes finish. The second and
  // later: the running flashes are stopped, and the exit code is 128 + `signal`.
  Reaction RequestStop(int signal);

  // Stopping (or the count reached) and nothing runs.
  bool Finished() const;
  // 0 when every flash of the session succeeded (also when none came), 1 when any failed,
  // 128 + signal when running flashes had to be stopped.
  int ExitCode() const;

  Counters Count(Time now) const;
  std::vector<Slot> Slots() const;
  // Every flash of the session, in the order they ended.
  const std::vector<RunRecord>& Summary() const { return m_summary; }
  // The handsets that stay flashed as long as they stay where they are: done, and left
  // without a driver (only a replug gives them one again), also those found so at the start.
  std::vector<LeftFlashed> LeftFlashedNow() const;

 private:
  struct Entry {
    Slot slot;
    bool present = false;
    RunId run = 0;                // the run going; 0 when none
    std::string runDevice;        // where it went: the slot's path may change before it ends
    bool unplugged = false;       // it left while `run` was going
    std::optional<Time> retryAt;  // a permission retry is due then
    Time firstTry{};
    int attempt = 0;
    bool driverless = false;      // no driver has its interface, at the last poll
  };

  bool Accepting() const;
  Entry* Find(const Identity& identity);
  Entry* FindRun(RunId run);
  void Start(Entry& e, Time now, Reaction& out);
  void End(Entry& e, Result result, const std::string& cause, Reaction& out);
  void Leave(Entry& e, Reaction& out);
  void Arrive(Entry& e, Reaction& out);
  bool TakeLeftFlashed(const Entry& e);
  void FailDueRetries(Reaction& out);
  Event EventOf(Event::Kind kind, const Entry& e) const;

  Settings m_settings;
  Time m_start;
  std::vector<Entry> m_entries;
  // Handsets half gone (port, device): their serial went, their tty is still there.
  std::vector<std::pair<std::string, std::string>> m_fading;
  std::vector<RunRecord> m_summary;
  RunId m_nextRun = 1;
  int m_nextSlot = 1;
  int m_done = 0;
  int m_stopRequests = 0;
  int m_signal = 0;
  bool m_stoppedRunning = false;
};

}  // namespace brenvik::station
