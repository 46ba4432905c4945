// What the operator of a station sees: on a terminal a header and one row per port, redrawn
// in place; into a pipe one plain line per event; with --json one event per line.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "records_notice.h"
#include "run_sink.h"
#include "reporters.h"
#include "station/station.h"

namespace brenvik::cli {

class StationView {
 public:
  StationView(PresenterStyle style, std::FILE* out, std::FILE* err, std::string image, bool bell);

  // The image being flashed now, for the header (a short SHA-256).
  void SetImage(const std::string& sha256);
  // The --usb-port and --serial filters, said once at the start and kept in the header, so
  // that an operator sees why a handset is not taken. Nothing when there are none.
  void ShowFilters(const station::Filter& filter);
  // The database the runs also go into (`shown`: its name, any password masked): the header
  // says how many still wait for it.
  void SetRecords(const records::RunSink* records, std::string shown) {
    m_records = records;
    m_recordsShown = std::move(shown);
  }
  // Tells the line, as lines or events, when runs start waiting for the database and when
  // they are in again; called as the station goes.
  void CheckRecords();
  void Show(const station::Event& event, const station::Counters& counters);
  // The presenter of one run: its progress in the slot's row, line or events.
  std::unique_ptr<RunPresenter> RunView(const station::Slot& slot, const std::string& device);
  // The slot's row once its run has ended, and the header's counts.
  void Refresh(const std::vector<station::Slot>& slots, const station::Counters& counters);
  void Close();

 private:
  void Line(const std::string& text);
  std::string Header(const station::Counters& counters) const;
  std::string RecordsTail() const;
  void SetHeader(const station::Counters& counters);
  size_t RowOf(const std::string& port);

  PresenterStyle m_style;
  std::FILE* m_out;
  std::FILE* m_err;
  std::string m_image;
  std::string m_sha;
  std::string m_filters;
  bool m_bell;
  Board m_board;
  size_t m_header = 0;
  int m_stops = 0;
  std::map<std::string, size_t> m_rows;  // one per port, whoever is plugged into it
  std::mutex m_mutex;
  std::map<int, nlohmann::json> m_results;  // a run's own result, until the station's says it
  const records::RunSink* m_records = nullptr;
  std::string m_recordsShown;
  RecordsNotices m_notices;
};

}  // namespace brenvik::cli
