// brenvik-cli station: every handset flashed as it is plugged in, until stopped. The rules
// are the core's station; this file only finds handsets, starts runs and presents.
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <atomic>
#include <deque>
#include <map>
#include <utility>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "commands.h"
#include "download/sha256.h"
#include "flash_run.h"
#include "run/outcome_text.h"
#include "image_identity.h"
#include "station/station.h"
#include "station_view.h"
#include "targets.h"

namespace brenvik::cli {
namespace {

using station::Clock;

// One run of the station: its own stop flag, the image it flashes, its presenter.
struct StationRun {
  station::RunId id = 0;
  FoundHandset handset;
  FlashArgs args;
  volatile std::sig_atomic_t stop = 0;
  std::atomic<bool> unplugged{false};  // discovery saw it leave: the run fails so, whatever it says
  LoggedImage image;
  std::unique_ptr<RunPresenter> presenter;
  FlashReport report;
  std::jthread thread;
};

// Runs that ended, handed from their threads to the loop.
class Ended {
 public:
  void Push(station::RunId id) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_ended.push_back(id);
    }
    m_wake.notify_one();
  }
  // Waits at most `bound` for an end; returns those that came.
  std::deque<station::RunId> Take(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, bound, [&] { return !m_ended.empty(); });
    return std::exchange(m_ended, std::deque<station::RunId>{});
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<station::RunId> m_ended;
};

station::RunResult ResultOf(const FlashReport& r) {
  if (r.result == "success") return {station::RunStatus::kSuccess, {}};
  if (r.permissionDenied) return {station::RunStatus::kPermissionDenied, r.cause};
  if (r.result == "stopped") return {station::RunStatus::kStopped, r.cause};
  return {station::RunStatus::kFailed, r.cause};
}

class StationLoop {
 public:
  StationLoop(const StationArgs& args, FlashLog& log, PresenterStyle style)
      : m_args(args),
        m_log(log),
        m_view(style, stdout, stderr, args.flash.image, args.bell),
        m_station(Settings(args), Clock::now()) {
    m_view.SetRecords(args.flash.records);
  }

  int Run() {
    const auto poll = std::chrono::milliseconds(m_args.pollMs);
    int stopsSeen = 0;
    while (true) {
      const int stops = m_args.stopCount ? int(*m_args.stopCount) : 0;
      for (; stopsSeen < stops; ++stopsSeen) Apply(m_station.RequestStop(int(*m_args.flash.stop)));
      for (station::RunId id : m_ended.Take(std::chrono::milliseconds(0))) EndRun(id);
      if (m_station.Finished()) break;
      const DiscoveryResult found = FindHandsets(QueryFor(m_args.flash.usbIds));
      // A class search that failed says nothing of who left: no run is aborted for it.
      if (!found.classQueryFailed) Apply(m_station.Poll(found.handsets, Clock::now()));
      for (station::RunId id : m_ended.Take(poll)) EndRun(id);
      if (m_station.Finished()) break;
    }
    m_view.Close();
    PrintSummary(m_reports, m_args.flash.json, stdout);
    return m_station.ExitCode();
  }

 private:
  static station::Settings Settings(const StationArgs& a) {
    station::Settings s;
    s.filter.usbPorts = a.usbPorts;
    s.filter.serialPrefixes = a.serials;
    if (a.count > 0) s.count = a.count;
    return s;
  }

  void Apply(const station::Reaction& reaction) {
    for (const station::Event& e : reaction.events) m_view.Show(e, m_station.Count(Clock::now()));
    for (const station::Action& a : reaction.actions) {
      if (a.kind == station::Action::Kind::kStart) {
        Start(a);
      } else if (auto it = m_runs.find(a.run); it != m_runs.end()) {
        if (a.kind == station::Action::Kind::kAbort) it->second->unplugged = true;
        // An unplugged handset takes no more bytes: its run stops at once, as at a second signal.
        it->second->stop = a.kind == station::Action::Kind::kAbort ? SIGTERM : int(*m_args.flash.stop);
      }
    }
    m_view.Refresh(m_station.Slots(), m_station.Count(Clock::now()));
  }

  const station::Slot* SlotOf(int id) {
    m_slots = m_station.Slots();
    for (const station::Slot& s : m_slots)
      if (s.id == id) return &s;
    return nullptr;
  }

  void Start(const station::Action& a) {
    auto run = std::make_unique<StationRun>();
    run->id = a.run;
    run->handset.path = a.device;
    if (const station::Slot* slot = SlotOf(a.slot)) {
      run->handset.usbPort = slot->identity.port;
      run->handset.serial = slot->identity.serial;
      run->presenter = m_view.RunView(*slot, a.device);
    }
    run->args = m_args.flash;
    run->args.stop = &run->stop;
    // The image as it is now: a release replaced between two handsets goes to the next one.
    PrepareImage(run->image);
    if (run->image.sha256) m_view.SetImage(*run->image.sha256);
    StationRun& r = *run;
    m_runs.emplace(a.run, std::move(run));
    try {
      r.thread = std::jthread([this, &r] {
        try {
          FlashOne(r.args, &r.handset, *r.presenter, [this, &r](FlashReport& report) { return Settle(r, report); },
                   r.report);
        } catch (const std::exception& e) {
          Fail(r, std::string("an error of brenvik-cli: ") + e.what());
        }
        m_ended.Push(r.id);
      });
    } catch (const std::system_error& e) {
      Fail(r, std::string("no thread could be started for this handset: ") + e.what());
      m_ended.Push(r.id);
    }
  }

  // The run's line in the log, written on its thread before its result is shown. An open
  // refused for lack of permission is tried again: only the station's last word is logged.
  std::optional<Verdict> Settle(StationRun& r, FlashReport& report) {
    if (r.unplugged) {
      report.result = "failed";
      report.cause = station::text::kUnplugged;
      report.exitCode = kExitRunFailed;
    }
    if (report.permissionDenied) return std::nullopt;
    std::optional<Verdict> v =
        Conclude(m_log, m_args.flash.logPath, r.image, report, *r.presenter, m_args.flash.records);
    if (r.unplugged && !v) v = Failed(Outcome{Step::kNone, 0, Cause::kStopped, {}, {}}, station::text::kUnplugged);
    return v;
  }

  void Fail(StationRun& r, const std::string& cause) {
    FailBeforeRun(r.report, r.handset, cause, r.presenter.get());
    if (!r.report.concluded)
      Conclude(m_log, m_args.flash.logPath, r.image, r.report, *r.presenter, m_args.flash.records);
  }

  // Hashed again only when the file is not the one hashed before.
  void PrepareImage(LoggedImage& image) {
    const std::string& path = m_args.flash.image;
    const auto before = ReadImageIdentity(path);
    image.Map(m_args.flash);
    image.absolutePath = AbsoluteImagePath(path);
    if (!before || !image.view.Mapped()) return;
    if (auto known = m_cache.Lookup(*before)) {
      if (ReadImageIdentity(path) == before) {
        image.sha256 = known->sha256;
        return;
      }
    }
    if (auto sha = ImageSha256(image.view)) {
      if (auto after = ReadImageIdentity(path))
        if (auto kept = m_cache.Store(*before, *after, *sha)) image.sha256 = kept->sha256;
    }
  }

  void EndRun(station::RunId id) {
    auto it = m_runs.find(id);
    if (it == m_runs.end()) return;
    std::unique_ptr<StationRun> run = std::move(it->second);
    m_runs.erase(it);
    run->thread = {};  // joined: its report is whole
    const station::Reaction reaction = m_station.Ended(id, ResultOf(run->report), Clock::now());
    // The table says what the station decided: an unplugged handset failed, whatever its run
    // could still tell. A permission denial the station gives up on is logged now.
    bool ended = false;  // else a permission denial is tried again soon
    for (const station::Event& e : reaction.events) {
      if (e.kind != station::Event::Kind::kResult) continue;
      ended = true;
      run->report.result = station::ResultName(e.result);
      run->report.cause = e.cause;
      if (e.result != station::Result::kSuccess && run->report.exitCode == kExitOk)
        run->report.exitCode = kExitRunFailed;
      if (run->report.permissionDenied)
        Conclude(m_log, m_args.flash.logPath, run->image, run->report, *run->presenter, m_args.flash.records);
    }
    if (ended) m_reports.push_back(run->report);
    Apply(reaction);
  }

  const StationArgs& m_args;
  FlashLog& m_log;
  StationView m_view;
  station::Station m_station;
  station::ImageCache m_cache;
  Ended m_ended;
  std::map<station::RunId, std::unique_ptr<StationRun>> m_runs;
  std::vector<station::Slot> m_slots;
  std::vector<FlashReport> m_reports;
};

}  // namespace

int RunStation(const StationArgs& args) {
  const PresenterStyle style = StyleFor(args.flash.json);
  auto presenter = MakePresenter(style, stdout, stderr);
  FlashLog log;
  std::string error;
  if (!args.flash.logPath.empty() && !log.Open(args.flash.logPath, args.flash.image, error)) {
    presenter->Failure(error, kExitUsage);
    return kExitUsage;
  }
  // An image that cannot be flashed at all is said at once, not per handset.
  {
    ImageView view;
    const MapResult mapping = MapImageFile(view, args.flash.image);
    if (!view.Mapped()) {
      presenter->Failure(DescribeMapping(mapping, args.flash.image), kExitUsage);
      return kExitUsage;
    }
  }
  StationLoop loop(args, log, style);
  return loop.Run();
}

}  // namespace brenvik::cli
