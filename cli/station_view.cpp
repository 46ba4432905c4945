#include "station_view.h"

#include "text/json_text.h"
#include "text/printable.h"
#include "text/terminal_size.h"

namespace brenvik::cli {

using text::JsonLine;
using text::Printable;
using text::TextOrNull;

namespace {

using station::Event;

const char* EventName(Event::Kind kind) {
  switch (kind) {
    case Event::Kind::kArrived: return "arrived";
    case Event::Kind::kStarted: return "started";
    case Event::Kind::kResult: return "result";
    case Event::Kind::kLeft: return "left";
    case Event::Kind::kStopRequested: return "stopping";
  }
  return "";
}

std::string Who(const std::string& device, const std::string& port, const std::string& serial) {
  std::string who = Printable(device);
  std::string details;
  if (!port.empty() && port != device) details = "USB port " + Printable(port);
  if (!serial.empty()) details += (details.empty() ? "" : ", ") + std::string("serial ") + Printable(serial);
  return details.empty() ? who : who + " (" + details + ")";
}

std::string Listed(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& v : values) text += (text.empty() ? "" : ", ") + Printable(v);
  return text;
}

// "USB port 1-2.*, 1-3.*; serial S0": the handsets a station takes.
std::string FilterText(const station::Filter& f) {
  std::string text;
  if (!f.usbPorts.empty()) text = "USB port " + Listed(f.usbPorts);
  if (!f.serialPrefixes.empty()) text += (text.empty() ? "" : "; ") + std::string("serial ") + Listed(f.serialPrefixes);
  return text;
}

constexpr const char* kStoppingText =
    "stopping: no new handset is started; the running flashes finish (a second signal stops them)";
constexpr const char* kStoppingRunsText =
    "stopping the running flashes at their next unit: they are logged as stopped";

}  // namespace

StationView::StationView(PresenterStyle style, std::FILE* out, std::FILE* err, std::string image, bool bell)
    : m_style(style), m_out(out), m_err(err), m_image(std::move(image)), m_bell(bell), m_board(out) {
  if (m_style == PresenterStyle::kTerminal) m_header = m_board.AddLine();
}

void StationView::SetImage(const std::string& sha256) { m_sha = sha256; }

void StationView::ShowFilters(const station::Filter& filter) {
  m_filters = FilterText(filter);
  if (m_filters.empty()) return;
  if (m_style == PresenterStyle::kJson)
    Line(JsonLine({{"event", "filters"}, {"usb_port", filter.usbPorts}, {"serial", filter.serialPrefixes}}));
  else if (m_style == PresenterStyle::kPlain)
    Line("filters: " + m_filters);
}

std::string StationView::Header(const station::Counters& c) const {
  char counts[160];
  std::snprintf(counts, sizeof counts, "  done %d  failed %d  flashing %d  %.0f per hour%s", c.done, c.failed,
                c.running, c.perHour, m_stops ? "  stopping" : "");
  // The filters last: a narrow terminal cuts them before the counts.
  return Printable(m_image) + (m_sha.empty() ? "" : "  " + m_sha.substr(0, 12)) + counts +
         (m_filters.empty() ? "" : "  " + m_filters);
}

// What waits for the database, the header's last words: a narrow terminal cuts all else first.
std::string StationView::RecordsTail() const {
  if (!m_records) return "";
  if (const size_t waiting = m_records->Waiting()) return std::to_string(waiting) + " waiting for the database";
  if (!m_records->CaughtUp() && !m_records->LastError().empty()) return "the log waiting for the database";
  return "";
}

void StationView::CheckRecords() {
  if (!m_records || m_style == PresenterStyle::kTerminal) return;  // the board's header says it
  RecordsState state{m_records->Waiting(), m_records->CaughtUp(), m_records->LastError()};
  const auto notice = m_notices.Update(state, RecordsNotices::Clock::now());
  if (!notice) return;
  if (m_style == PresenterStyle::kJson) {
    if (notice->in)
      Line(JsonLine({{"event", "records_in"}, {"database", m_recordsShown}}));
    else
      Line(JsonLine({{"event", "records_waiting"}, {"database", m_recordsShown}, {"waiting", state.waiting},
                     {"caught_up", state.caughtUp}, {"error", TextOrNull(state.error)}}));
    return;
  }
  if (notice->in) {
    Line("records: every run is in the database " + Printable(m_recordsShown) + " again");
    return;
  }
  const std::string what = state.waiting == 1 ? "1 run is" : state.waiting ? std::to_string(state.waiting) + " runs are"
                                                                           : "the log's runs are";
  Line("records: " + what + " waiting for the database (" + Printable(state.error) +
       "); they are kept in the log");
}

size_t StationView::RowOf(const std::string& port) {
  auto it = m_rows.find(port);
  if (it != m_rows.end()) return it->second;
  return m_rows[port] = m_board.AddLine();
}

void StationView::Line(const std::string& text) {
  std::fprintf(m_out, "%s\n", text.c_str());
  std::fflush(m_out);
}

void StationView::Show(const Event& e, const station::Counters& counters) {
  if (e.kind == Event::Kind::kStopRequested) ++m_stops;
  if (e.kind == Event::Kind::kResult && m_bell) {
    std::FILE* bell = text::IsTerminal(m_out) ? m_out : m_err;
    std::fputc('\a', bell);
    std::fflush(bell);
  }
  switch (m_style) {
    case PresenterStyle::kJson: {
      nlohmann::json j{{"event", EventName(e.kind)}};
      if (e.kind == Event::Kind::kResult) {  // the run's own figures, then the station's verdict
        std::lock_guard<std::mutex> lock(m_mutex);
        if (auto it = m_results.find(e.slot); it != m_results.end()) {
          j.update(it->second);
          m_results.erase(it);
        }
      }
      if (e.kind == Event::Kind::kStopRequested) j["request"] = m_stops;
      if (e.kind != Event::Kind::kStopRequested)
        j.update({{"slot", e.slot}, {"device", e.device}, {"usb_port", TextOrNull(e.usbPort)},
                  {"serial", TextOrNull(e.serial)}});
      if (e.kind == Event::Kind::kStarted) j["attempt"] = e.attempt;
      if (e.kind == Event::Kind::kResult) {
        j["result"] = station::ResultName(e.result);
        j["cause"] = TextOrNull(e.cause);
      }
      Line(JsonLine(j));
      break;
    }
    case PresenterStyle::kPlain: {
      if (e.kind == Event::Kind::kStopRequested) {
        Line(std::string("brenvik-cli: ") + (m_stops > 1 ? kStoppingRunsText : kStoppingText));
        break;
      }
      std::string text = std::string(EventName(e.kind)) + ": " + Who(e.device, e.usbPort, e.serial);
      if (e.kind == Event::Kind::kStarted && e.attempt > 1) text += " (attempt " + std::to_string(e.attempt) + ")";
      if (e.kind == Event::Kind::kResult)
        text += std::string(": ") + station::ResultName(e.result) + (e.cause.empty() ? "" : " (" + Printable(e.cause) + ")");
      Line(text);
      break;
    }
    case PresenterStyle::kTerminal:
      SetHeader(counters);
      break;
  }
}

std::unique_ptr<RunPresenter> StationView::RunView(const station::Slot& slot, const std::string& device) {
  const std::string& port = slot.identity.port;
  switch (m_style) {
    case PresenterStyle::kTerminal:
      return MakeRowPresenter(m_board, RowOf(port), m_err, port + "  " + slot.identity.serial);
    case PresenterStyle::kPlain: return MakeDevicePresenter(m_style, m_out, m_err, Printable(device), m_board);
    case PresenterStyle::kJson:
      return MakeJsonPresenter(m_out,
                               {{"device", device}, {"usb_port", TextOrNull(port)},
                                {"serial", TextOrNull(slot.identity.serial)}},
                               [this, id = slot.id](nlohmann::json fields) {
                                 std::lock_guard<std::mutex> lock(m_mutex);
                                 m_results[id] = std::move(fields);
                               });
  }
  return nullptr;
}

void StationView::Refresh(const std::vector<station::Slot>& slots, const station::Counters& counters) {
  if (m_style != PresenterStyle::kTerminal) return;
  SetHeader(counters);
  // A port's row shows the newest handset on it: one that left gives way to the next.
  std::map<std::string, const station::Slot*> newest;
  for (const station::Slot& s : slots) {
    const station::Slot*& n = newest[s.identity.port];
    if (!n || s.id > n->id) n = &s;
  }
  for (const auto& [port, slot] : newest) {
    const station::Slot& s = *slot;
    if (s.state == station::SlotState::kRunning) continue;  // the run's own presenter draws it
    BoardRow row;
    row.name = s.identity.port + "  " + s.identity.serial;
    row.state = s.state == station::SlotState::kDone     ? RowState::kDone
                : s.state == station::SlotState::kFailed ? RowState::kFailed
                : s.state == station::SlotState::kGone   ? RowState::kGone
                                                         : RowState::kWaiting;
    row.text = station::StateText(s);
    m_board.Set(RowOf(port), row);
  }
}

void StationView::SetHeader(const station::Counters& counters) {
  BoardRow header;
  header.plain = true;
  header.text = Header(counters);
  header.tail = RecordsTail();
  m_board.Set(m_header, header);
}

void StationView::Close() {
  if (m_style == PresenterStyle::kTerminal) m_board.Close();
}

}  // namespace brenvik::cli
