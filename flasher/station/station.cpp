#include "station/station.h"

#include <algorithm>

namespace brenvik::station {

std::string StateText(const Slot& slot) {
  switch (slot.state) {
    case SlotState::kWaiting: return "waiting";
    case SlotState::kRunning: return "flashing";
    case SlotState::kDone: return "done: unplug";
    case SlotState::kFailed: return "failed (" + slot.cause + "): unplug to retry";
    case SlotState::kGone: return "gone";
  }
  return "gone";
}

Station::Station(Settings settings, Time start) : m_settings(std::move(settings)), m_start(start) {}

bool Station::Accepting() const {
  return m_stopRequests == 0 && !(m_settings.count && m_done >= *m_settings.count);
}

Station::Entry* Station::Find(const Identity& identity) {
  for (Entry& e : m_entries)
    if (e.slot.identity == identity) return &e;
  return nullptr;
}

Station::Entry* Station::FindRun(RunId run) {
  for (Entry& e : m_entries)
    if (run != 0 && e.run == run) return &e;
  return nullptr;
}

Event Station::EventOf(Event::Kind kind, const Entry& e) const {
  Event ev;
  ev.kind = kind;
  ev.slot = e.slot.id;
  ev.device = e.slot.device;
  ev.usbPort = e.slot.identity.port;
  ev.serial = e.slot.identity.serial;
  return ev;
}

void Station::Start(Entry& e, Time now, Reaction& out) {
  if (e.attempt == 0) e.firstTry = now;
  ++e.attempt;
  e.retryAt.reset();
  e.run = m_nextRun++;
  e.runDevice = e.slot.device;
  e.slot.state = SlotState::kRunning;
  out.actions.push_back({Action::Kind::kStart, e.run, e.slot.id, e.slot.device});
  Event ev = EventOf(Event::Kind::kStarted, e);
  ev.attempt = e.attempt;
  out.events.push_back(std::move(ev));
}

void Station::End(Entry& e, Result result, const std::string& cause, Reaction& out) {
  e.run = 0;
  e.retryAt.reset();
  m_summary.push_back({e.slot.id, e.slot.identity, e.runDevice, result, cause});
  Event ev = EventOf(Event::Kind::kResult, e);
  ev.device = e.runDevice;
  ev.result = result;
  ev.cause = cause;
  out.events.push_back(std::move(ev));
  if (e.unplugged) {
    // The run was of a handset that has left since; if it is back, this is its next session.
    e.unplugged = false;
    e.slot.state = e.present ? SlotState::kWaiting : SlotState::kGone;
  } else {
    e.slot.state = result == Result::kSuccess ? SlotState::kDone : SlotState::kFailed;
    e.slot.cause = cause;
  }
  if (result == Result::kSuccess) {
    ++m_done;
    if (!Accepting()) FailDueRetries(out);
  }
}

void Station::FailDueRetries(Reaction& out) {
  for (Entry& e : m_entries)
    if (e.retryAt) End(e, Result::kFailed, text::kPermissionDenied, out);
}

void Station::Leave(Entry& e, Reaction& out) {
  e.present = false;
  if (e.run != 0) {
    // Its result comes later: unplugged, unless the run settled its own before it heard.
    e.unplugged = true;
    out.actions.push_back({Action::Kind::kAbort, e.run, e.slot.id, e.runDevice});
  } else if (e.retryAt) {
    End(e, Result::kFailed, text::kUnplugged, out);
    e.slot.state = SlotState::kGone;
  } else {
    e.slot.state = SlotState::kGone;
  }
  out.events.push_back(EventOf(Event::Kind::kLeft, e));
}

void Station::Arrive(Entry& e, Reaction& out) {
  e.present = true;
  ++e.slot.session;
  e.attempt = 0;
  // A run of its last session that is still ending keeps the slot running until it ends.
  if (e.run == 0) {
    e.slot.state = SlotState::kWaiting;
    e.slot.cause.clear();
  }
  out.events.push_back(EventOf(Event::Kind::kArrived, e));
}

Reaction Station::Poll(const std::vector<FoundHandset>& present, Time now) {
  Reaction out;
  std::vector<std::pair<std::string, std::string>> fading;
  for (const FoundHandset& h : present) {
    if (!h.serial.empty()) continue;
    std::pair<std::string, std::string> place{PortOf(h), h.path};
    const bool hadSerial = std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
      return e.present && !e.slot.identity.serial.empty() && e.slot.identity.port == place.first &&
             e.slot.device == place.second;
    });
    if (hadSerial || std::find(m_fading.begin(), m_fading.end(), place) != m_fading.end())
      fading.push_back(std::move(place));
  }
  m_fading = std::move(fading);

  std::vector<std::pair<Identity, const FoundHandset*>> admitted;
  for (const FoundHandset& h : present) {
    if (h.serial.empty() &&
        std::find(m_fading.begin(), m_fading.end(), std::make_pair(PortOf(h), h.path)) != m_fading.end())
      continue;
    if (!m_settings.filter.Admits(h)) continue;
    Identity id{PortOf(h), h.serial};
    bool seen = std::any_of(admitted.begin(), admitted.end(), [&](const auto& a) { return a.first == id; });
    if (!seen) admitted.emplace_back(std::move(id), &h);
  }

  for (Entry& e : m_entries) {
    bool stays = std::any_of(admitted.begin(), admitted.end(),
                             [&](const auto& a) { return a.first == e.slot.identity; });
    if (e.present && !stays) Leave(e, out);
  }

  for (const auto& [id, handset] : admitted) {
    Entry* e = Find(id);
    if (!e) {
      // A line sends thousands of handsets through a few ports: a new one takes the place of
      // those that left its port and wait for nothing, or the table and every poll would grow.
      const std::string& port = id.port;  // a structured binding: clang 14 cannot capture it
      std::erase_if(m_entries, [&](const Entry& old) {
        return old.slot.identity.port == port && !old.present && old.run == 0 && !old.retryAt;
      });
      m_entries.emplace_back();
      e = &m_entries.back();
      e->slot.id = m_nextSlot++;
      e->slot.identity = id;
    }
    e->slot.device = handset->path;
    e->driverless = handset->driver.empty();
    if (!e->present) {
      Arrive(*e, out);
      if (e->slot.session == 1 && TakeLeftFlashed(*e)) e->slot.state = SlotState::kDone;
    }
    if (!Accepting()) continue;
    if ((e->slot.state == SlotState::kWaiting) || (e->retryAt && *e->retryAt <= now)) Start(*e, now, out);
  }
  return out;
}

bool Station::TakeLeftFlashed(const Entry& e) {
  if (!e.driverless) return false;
  auto& left = m_settings.leftFlashed;
  const auto it = std::find(left.begin(), left.end(), LeftFlashed{e.slot.identity, e.slot.device});
  if (it == left.end()) return false;
  left.erase(it);  // once: a handset that leaves and comes back is a new plug-in
  return true;
}

std::vector<LeftFlashed> Station::LeftFlashedNow() const {
  std::vector<LeftFlashed> left;
  for (const Entry& e : m_entries)
    if (e.present && e.driverless && e.run == 0 && e.slot.state == SlotState::kDone)
      left.push_back({e.slot.identity, e.slot.device});
  return left;
}

Reaction Station::Ended(RunId run, const RunResult& result, Time now) {
  Reaction out;
  Entry* e = FindRun(run);
  if (!e) return out;
  e->run = 0;
  // A denied run that left has nothing to try again.
  if (result.status == RunStatus::kUnplugged || (e->unplugged && result.status == RunStatus::kPermissionDenied)) {
    End(*e, Result::kFailed, text::kUnplugged, out);
  } else {
    switch (result.status) {
      case RunStatus::kSuccess: End(*e, Result::kSuccess, "", out); break;
      case RunStatus::kFailed: End(*e, Result::kFailed, result.cause, out); break;
      case RunStatus::kStopped:  // the run's own words, which its log line has
        End(*e, Result::kStopped, result.cause.empty() ? text::kStopped : result.cause, out);
        break;
      case RunStatus::kUnplugged: break;
      case RunStatus::kPermissionDenied:
        if (Accepting() && now - e->firstTry < kPermissionRetryFor)
          e->retryAt = now + kPermissionRetryEvery;
        else
          End(*e, Result::kFailed, text::kPermissionDenied, out);
        break;
    }
  }
  if (e->present && e->slot.state == SlotState::kWaiting && Accepting()) Start(*e, now, out);
  return out;
}

Reaction Station::RequestStop(int signal) {
  Reaction out;
  Event ev;
  ev.kind = Event::Kind::kStopRequested;
  out.events.push_back(ev);
  if (++m_stopRequests == 1) {
    FailDueRetries(out);
    return out;
  }
  m_signal = signal;
  for (const Entry& e : m_entries) {
    if (e.run == 0) continue;
    out.actions.push_back({Action::Kind::kStop, e.run, e.slot.id, e.runDevice});
    m_stoppedRunning = true;
  }
  return out;
}

bool Station::Finished() const {
  return !Accepting() && std::none_of(m_entries.begin(), m_entries.end(),
                                      [](const Entry& e) { return e.run != 0 || e.retryAt; });
}

int Station::ExitCode() const {
  if (m_stoppedRunning) return 128 + m_signal;
  bool anyFailed = std::any_of(m_summary.begin(), m_summary.end(),
                               [](const RunRecord& r) { return r.result != Result::kSuccess; });
  return anyFailed ? 1 : 0;
}

Counters Station::Count(Time now) const {
  Counters c;
  c.done = m_done;
  c.failed = static_cast<int>(m_summary.size()) - m_done;
  for (const Entry& e : m_entries) {
    if (e.run != 0 || e.retryAt) ++c.running;
    else if (e.present && e.slot.state == SlotState::kWaiting) ++c.waiting;
  }
  double hours = std::chrono::duration<double, std::ratio<3600>>(now - m_start).count();
  if (m_done > 0 && hours > 0) c.perHour = m_done / hours;
  return c;
}

std::vector<Slot> Station::Slots() const {
  std::vector<Slot> slots;
  for (const Entry& e : m_entries) slots.push_back(e.slot);
  return slots;
}

}  // namespace brenvik::station
