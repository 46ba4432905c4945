#include "records_cli.h"

#include <cstdio>
#include <cstdlib>

#include "record_writer.h"
#include "text/json_text.h"
#include "text/printable.h"

namespace brenvik::cli {

using records::ChooseDbUrl;
using records::Filter;
using records::RecordWriter;

namespace {

constexpr auto kWaitAtEnd = std::chrono::seconds(3);

const char* const kDbHelp =
    "The records' database: sqlite:PATH, postgresql://USER@HOST/DB (or any libpq connection string; "
    "its environment variables and ~/.pgpass apply). Default: BRENVIK_DB, else "
    "$XDG_STATE_HOME/brenvik/records.db.";

}  // namespace

void AddDbOption(CLI::App& command, std::string& db) {
  command.add_option("--db", db,
                     "Also write each run into this database (sqlite:PATH or postgresql://...; default: "
                     "BRENVIK_DB). The log stays the record of truth: a database that is down never fails a run.");
}

int WithRecords(const std::string& db, FlashArgs& flash, const std::string& catchUpLog, bool tellAlways,
                const std::function<int()>& run) {
  const char* env = std::getenv("BRENVIK_DB");
  if (db.empty() && !(env && *env)) return run();
  std::string error;
  const auto url = ChooseDbUrl(db, error);
  if (!url) {
    std::fprintf(stderr, "brenvik-cli: %s\n", text::Printable(error).c_str());
    return kExitUsage;
  }
  RecordWriter writer(*url, catchUpLog);
  flash.records = &writer;
  const int code = run();
  flash.records = nullptr;
  if (writer.Finish(kWaitAtEnd) && !tellAlways) return code;
  const size_t waiting = writer.Waiting();
  const std::string why = writer.LastError();
  if (flash.json) {
    std::fprintf(stdout, "%s\n",
                 text::JsonLine({{"event", "records"}, {"database", url->shown}, {"waiting", waiting},
                                {"error", text::TextOrNull(why)}})
                     .c_str());
  } else if (waiting == 0) {
    std::fprintf(stderr, "brenvik-cli: every run is in the database %s\n", text::Printable(url->shown).c_str());
  } else {
    std::string text = std::to_string(waiting) + (waiting == 1 ? " run is" : " runs are") + " not in the database " +
                       url->shown + " yet" + (why.empty() ? "" : " (" + why + ")");
    text += flash.logPath.empty() ? ": without --log they are not kept anywhere else"
                                  : ": they are in the log, and 'brenvik-cli records import " + flash.logPath +
                                        "' adds them";
    std::fprintf(stderr, "brenvik-cli: %s\n", text::Printable(text).c_str());
  }
  std::fflush(nullptr);
  return code;
}

RecordsCli::RecordsCli(CLI::App& app) {
  m_records = app.add_subcommand("records", "Every run in a database: import logs, find runs, summarise them.");
  m_records->require_subcommand(1);
  m_records->footer(
      "Exit codes:\n  0  done (malformed lines of a log are told and skipped)\n  1  the database failed part way\n"
      "  2  bad usage, or a database or log that cannot be used");

  m_import = m_records->add_subcommand("import", "Add the runs of flash logs; a run already there is not added again.");
  m_import->add_option("LOG", m_args.logs, "Log files written by flash --log or station --log")->required();
  m_import->add_option("--db", m_args.db, kDbHelp);
  m_import->add_flag("--json", m_args.json, "The counts as one JSON line.");

  m_find = m_records->add_subcommand("find", "The runs that match, oldest first.");
  AddFilters(*m_find);
  m_find->add_flag("--json", m_args.json, "One JSON line per run instead of a table.");

  m_summary = m_records->add_subcommand(
      "summary", "Per group: runs, successes, the failure rate, the median and 95th percentile of the duration.");
  m_summary->add_option("--by", m_args.by, "hour, day, station, image or result")
      ->check(CLI::IsMember({"hour", "day", "station", "image", "result"}))
      ->required();
  AddFilters(*m_summary);
  m_summary->add_flag("--json", m_args.json, "One JSON line per group instead of a table.");
}

void RecordsCli::AddFilters(CLI::App& c) {
  Filter& f = m_args.filter;
  c.add_option("--db", m_args.db, kDbHelp);
  c.add_option("--serial", f.serialPrefix, "USB serial numbers that start so");
  c.add_option("--sha256", f.sha256Prefix, "Images whose SHA-256 starts so");
  c.add_option("--image", f.image, "The image's absolute path, as the log names it");
  c.add_option("--device", f.device, "The device, as the log names it (/dev/ttyUSB0, COM5)");
  c.add_option("--usb-port", f.usbPort, "The USB port path (1-1.4)");
  c.add_option("--result", f.result, "success, failed or stopped")->check(CLI::IsMember({"success", "failed", "stopped"}));
  c.add_option("--station", f.station, "The station's host name");
  c.add_option("--since", f.since,
               "From this time on: ISO 8601 (2026-12-07, 2026-12-07T14:30, with Z or +01:00; local time "
               "without), today, yesterday, or back from now: -8h, -30m, -2d");
  c.add_option("--until", f.until, "Before this time; as --since");
}

bool RecordsCli::Parsed() const { return m_records->parsed(); }

int RecordsCli::Run() {
  if (m_import->parsed()) return RunRecordsImport(m_args, stdout, stderr);
  if (m_find->parsed()) return RunRecordsFind(m_args, stdout, stderr);
  if (m_summary->parsed()) return RunRecordsSummary(m_args, stdout, stderr);
  return kExitUsage;
}

}  // namespace brenvik::cli
