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
#include <string_view>
#include <system_error>
#include <thread>

#include "commands.h"
#include "download/sha256.h"
#include "flash_run.h"
#include "run/outcome_text.h"
#include "image_identity.h"
#include "left_flashed.h"
#include "metrics_server.h"
#include "output_queue.h"
#include "station_metrics.h"
#include "station/station.h"
#include "station_view.h"
#include "targets.h"

namespace brenvik::cli {
namespace {

using station::Clock;

// One run of the station: its own stop flag, the image it flashes, its presenter.
struct StationRun {
  // Whichever comes first decides the run's verdict, alike in its log line and the station's:
  // discovery seeing the handset leave, or the run settling its own result.
  enum Phase { kFlashing, kUnplugged, kSettled };

  station::RunId id = 0;
  int slot = 0;
  FoundHandset handset;
  FlashArgs args;
  volatile std::sig_atomic_t stop = 0;
  std::atomic<int> phase{kFlashing};
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

station::RunResult ResultOf(const StationRun& run) {
  const FlashReport& r = run.report;
  if (run.phase == StationRun::kUnplugged) return {station::RunStatus::kUnplugged, station::text::kUnplugged};
  if (r.result == station::Result::kSuccess) return {station::RunStatus::kSuccess, {}};
  if (r.permissionDenied) return {station::RunStatus::kPermissionDenied, r.cause};
  if (r.result == station::Result::kStopped) return {station::RunStatus::kStopped, r.cause};
  return {station::RunStatus::kFailed, r.cause};
}

station::Filter FilterOf(const StationArgs& a) {
  station::Filter f;
  f.usbPorts = a.usbPorts;
  f.serialPrefixes = a.serials;
  return f;
}

std::string FaultText(const station::FilterFault& f) {
  return std::string(f.port ? "--usb-port" : "--serial") + " \"" + f.value + "\": " + f.reason;
}

// A run's cause as the metrics count it: the station's own verdicts first, then the run's.
const char* MetricCauseOf(const station::Event& e, const FlashReport& report) {
  if (e.cause == station::text::kUnplugged) return "unplugged";
  if (e.cause == station::text::kPermissionDenied || report.permissionDenied) return "permission_denied";
  return MetricCause(report.causeName);
}

// Plain and JSON output go through queues: a run never waits on a reader of its lines.
// A reader that takes nothing for this long at the end is given up on.
constexpr auto kOutputIdle = std::chrono::seconds(5);
constexpr size_t kQueuedProgress = size_t(1) << 20;

bool IsProgressLine(std::string_view line) { return line.find("\"event\":\"progress\"") != line.npos; }

class StationLoop {
 public:
  StationLoop(const StationArgs& args, FlashLog& log, PresenterStyle style, std::FILE* out, std::FILE* err,
              StationMetrics* metrics)
      : m_args(args),
        m_log(log),
        m_out(out),
        m_view(style, out, err, args.flash.image, args.bell),
        m_leftFile(LeftFlashedFile()),
        m_station(Settings(args, ReadLeftFlashed(m_leftFile), m_othersLeft), Clock::now()),
        m_metrics(metrics) {
    m_view.SetRecords(args.flash.records, args.flash.recordsShown);
  }

  int Run() {
    m_view.ShowFilters(FilterOf(m_args));
    if (m_metrics) {  // the image is told before the first handset comes
      LoggedImage image;
      PrepareImage(image);
      if (image.sha256) m_metrics->SetImage(*image.sha256, image.kind);
    }
    const auto poll = std::chrono::milliseconds(m_args.pollMs);
    int stopsSeen = 0;
    while (true) {
      const int stops = m_args.stopCount ? int(*m_args.stopCount) : 0;
      for (; stopsSeen < stops; ++stopsSeen) Apply(m_station.RequestStop(int(*m_args.flash.stop)));
      for (station::RunId id : m_ended.Take(std::chrono::milliseconds(0))) EndRun(id);
      if (m_station.Finished()) break;
      const uint64_t look = StartLook();
      const DiscoveryResult found = FindHandsets(QueryFor(m_args.flash.usbIds));
      // A class search that failed says nothing of who left: no run is aborted for it.
      if (!found.classQueryFailed) Apply(m_station.Poll(found.handsets, Clock::now()));
      EndLook(look);
      for (station::RunId id : m_ended.Take(poll)) EndRun(id);
      m_view.CheckRecords();
      if (m_station.Finished()) break;
    }
    m_view.Close();
    PrintSummary(m_reports, m_args.flash.json, m_out, true);
    return m_station.ExitCode();
  }

 private:
  // What an earlier station left flashed: this one's own handsets, and those its filter
  // leaves to other stations, kept in the file for them.
  static station::Settings Settings(const StationArgs& a, std::vector<station::LeftFlashed> left,
                                    std::vector<station::LeftFlashed>& others) {
    station::Settings s;
    s.filter = FilterOf(a);
    if (a.count > 0) s.count = a.count;
    for (station::LeftFlashed& l : left) {
      FoundHandset h;
      h.path = l.device;
      h.usbPort = l.identity.port;
      h.serial = l.identity.serial;
      (s.filter.Admits(h) ? s.leftFlashed : others).push_back(std::move(l));
    }
    return s;
  }

  void SaveLeftFlashed() {
    if (m_leftFile.empty()) return;
    std::vector<station::LeftFlashed> now = m_station.LeftFlashedNow();
    if (m_leftSaved && now == m_savedLeft) return;
    std::vector<station::LeftFlashed> all = now;
    all.insert(all.end(), m_othersLeft.begin(), m_othersLeft.end());
    // Not kept, the next station flashes these again, as one without the file does.
    if (WriteLeftFlashed(m_leftFile, all)) m_savedLeft = std::move(now), m_leftSaved = true;
  }

  uint64_t StartLook() {
    std::lock_guard<std::mutex> lock(m_lookMutex);
    return ++m_looksStarted;
  }
  void EndLook(uint64_t look) {
    {
      std::lock_guard<std::mutex> lock(m_lookMutex);
      m_looksDone = look;
    }
    m_lookDone.notify_all();
  }
  // A handset pulled out fails its link a moment before discovery sees it gone: a failed run
  // waits, for a bounded time, until two more looks at the bus have been made, so that its
  // cause is the unplug in its log line as in the station's verdict.
  void AwaitLooks(const StationRun& r) {
    std::unique_lock<std::mutex> lock(m_lookMutex);
    const uint64_t after = m_looksStarted + 2;
    m_lookDone.wait_for(lock, std::chrono::milliseconds(3 * m_args.pollMs + 1000),
                        [&] { return m_looksDone >= after || r.phase != StationRun::kFlashing; });
  }

  void Apply(const station::Reaction& reaction) {
    for (const station::Event& e : reaction.events) {
      if (e.kind == station::Event::Kind::kResult) Record(e);
      m_view.Show(e, m_station.Count(Clock::now()));
    }
    for (const station::Action& a : reaction.actions) {
      if (a.kind == station::Action::Kind::kStart) {
        Start(a);
      } else if (auto it = m_runs.find(a.run); it != m_runs.end()) {
        StationRun& run = *it->second;
        int flashing = StationRun::kFlashing;
        if (a.kind == station::Action::Kind::kAbort) run.phase.compare_exchange_strong(flashing, StationRun::kUnplugged);
        // An unplugged handset takes no more bytes: its run stops at once, as at a second signal.
        run.stop = a.kind == station::Action::Kind::kAbort ? SIGTERM : int(*m_args.flash.stop);
      }
    }
    m_view.Refresh(m_station.Slots(), m_station.Count(Clock::now()));
    if (m_metrics) m_metrics->SetHandsets(m_station.Slots());
    SaveLeftFlashed();
  }

  const station::Slot* SlotOf(int id) {
    m_slots = m_station.Slots();
    for (const station::Slot& s : m_slots)
      if (s.id == id) return &s;
    return nullptr;
  }

  void Start(const station::Action& a) {
    m_awaiting.erase(a.slot);  // a permission denial tried again: the new attempt speaks for it
    auto run = std::make_unique<StationRun>();
    run->id = a.run;
    run->slot = a.slot;
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
    if (run->image.sha256 && m_metrics) m_metrics->SetImage(*run->image.sha256, run->image.kind);
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
    if (report.result == station::Result::kFailed && !report.permissionDenied) AwaitLooks(r);
    int flashing = StationRun::kFlashing;
    const bool unplugged = !r.phase.compare_exchange_strong(flashing, StationRun::kSettled);
    if (unplugged) {
      report.result = station::Result::kFailed;
      report.cause = station::text::kUnplugged;
      report.exitCode = kExitRunFailed;
    }
    if (report.permissionDenied) return std::nullopt;
    std::optional<Verdict> v = Log(r, report);
    if (unplugged && !v) v = Failed(Outcome{Step::kNone, 0, Cause::kStopped, {}, {}}, station::text::kUnplugged);
    return v;
  }

  // The run's line in the log, and its row for the database.
  std::optional<Verdict> Log(StationRun& r, FlashReport& report) {
    return Conclude(m_log, m_args.flash.logPath, r.image, report, *r.presenter, m_args.flash.records);
  }

  void Fail(StationRun& r, const std::string& cause) {
    FailBeforeRun(r.report, r.handset, cause, r.presenter.get());
    if (!r.report.concluded) Log(r, r.report);
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
    const station::Reaction reaction = m_station.Ended(id, ResultOf(*run), Clock::now());
    // Its verdict comes with this reaction, or later when a permission denial it ended with
    // is given up (the station stops, the handset leaves, the retries run out).
    m_awaiting[run->slot] = std::move(run);
    Apply(reaction);
  }

  // A run's result as the station decided it: in its report, the summary and, for a run
  // that had not logged its line yet (a permission denial), the log. One line per run.
  void Record(const station::Event& e) {
    auto it = m_awaiting.find(e.slot);
    if (it == m_awaiting.end()) return;
    StationRun& run = *it->second;
    run.report.result = e.result;
    run.report.cause = e.cause;
    if (e.result != station::Result::kSuccess && run.report.exitCode == kExitOk) run.report.exitCode = kExitRunFailed;
    if (!run.report.concluded) Log(run, run.report);
    if (m_metrics) m_metrics->RunEnded(e.result, MetricCauseOf(e, run.report), run.report.seconds, run.report.bytesSent);
    m_reports.push_back(run.report);
    m_awaiting.erase(it);
  }

  const StationArgs& m_args;
  FlashLog& m_log;
  std::FILE* m_out;
  StationView m_view;
  std::string m_leftFile;
  std::vector<station::LeftFlashed> m_othersLeft;  // filled before m_station is made
  std::vector<station::LeftFlashed> m_savedLeft;
  bool m_leftSaved = false;  // the first look writes the file anew, stale lines gone
  station::Station m_station;
  station::ImageCache m_cache;
  Ended m_ended;
  std::map<station::RunId, std::unique_ptr<StationRun>> m_runs;
  std::map<int, std::unique_ptr<StationRun>> m_awaiting;  // by slot: ended, its verdict to come
  std::mutex m_lookMutex;
  std::condition_variable m_lookDone;
  uint64_t m_looksStarted = 0;
  uint64_t m_looksDone = 0;
  std::vector<station::Slot> m_slots;
  std::vector<FlashReport> m_reports;
  StationMetrics* m_metrics;
};

}  // namespace

int RunStation(const StationArgs& args) {
  const PresenterStyle style = StyleFor(args.flash.json);
  auto presenter = MakePresenter(style, stdout, stderr);
  if (const auto fault = station::FindFilterFault(FilterOf(args))) {
    presenter->Failure(FaultText(*fault), kExitUsage);
    return kExitUsage;
  }
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
  // A port in use is said at start: a station that cannot be watched is not started blind.
  std::unique_ptr<StationMetrics> metrics;
  std::unique_ptr<MetricsServer> server;
  if (!args.metrics.empty()) {
    metrics = std::make_unique<StationMetrics>(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(), BRENVIK_VERSION);
    if (records::RunSink* sink = args.flash.records) metrics->SetRecordsWaiting([sink] { return sink->Waiting(); });
    server = MetricsServer::Start(args.metrics, [m = metrics.get()] { return m->Render(); }, error);
    if (!server) {
      presenter->Failure(error, kExitUsage);
      return kExitUsage;
    }
  }
  std::unique_ptr<OutputQueue> out, err;
  if (style != PresenterStyle::kTerminal) {
    std::fflush(nullptr);
    out = OutputQueue::Start(1, kQueuedProgress, args.flash.json ? IsProgressLine : OutputQueue::Droppable());
    err = OutputQueue::Start(2, 0, {});
  }
  int code = 0;
  {
    StationLoop loop(args, log, style, out ? out->File() : stdout, err ? err->File() : stderr, metrics.get());
    code = loop.Run();
  }
  server.reset();  // before the metrics it serves
  if (out) out->Finish(kOutputIdle);
  if (err) err->Finish(kOutputIdle);
  return code;
}

}  // namespace brenvik::cli
