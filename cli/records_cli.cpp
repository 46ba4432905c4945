#include "records_cli.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "record_writer.h"
#include "records_commands.h"
#include "same_node.h"
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

// Whether the SQLite file is the log under another name: the same file (a link, another path
// to it), or one path spelt two ways where neither exists yet.
bool IsTheLog(const records::DbUrl& url, const std::string& logPath) {
  if (url.kind != records::DbUrl::Kind::kSqlite || logPath.empty()) return false;
  if (SameNode(url.target, logPath)) return true;
  std::error_code e1, e2;
  const auto db = std::filesystem::weakly_canonical(std::filesystem::absolute(url.target, e1), e1);
  const auto log = std::filesystem::weakly_canonical(std::filesystem::absolute(logPath, e2), e2);
  return !e1 && !e2 && db == log;
}

// A --db that holds a password is in /proc/PID/cmdline, for every local user to read as long
// as the process runs (a station: the whole shift).
void WarnOfPassword() {
  std::fputs("brenvik-cli: warning: the password in --db can be read by every user of this machine for as long as "
             "this runs; keep it out of the command line: in ~/.pgpass or the file PGPASSFILE names, in BRENVIK_DB "
             "in the service's environment, or in a systemd credential (LoadCredential=, with "
             "PGPASSFILE=%d/pgpass)\n",
             stderr);
  std::fflush(stderr);
}

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
  // SQLite would make the log a database of its own: every line in it lost.
  if (IsTheLog(*url, flash.logPath)) {
    std::fprintf(stderr, "brenvik-cli: %s\n",
                 text::Printable("the database " + url->shown + " is the log " + flash.logPath +
                                 ": the runs need a database file of their own")
                     .c_str());
    return kExitUsage;
  }
  if (!db.empty() && url->HasPassword()) WarnOfPassword();
  RecordWriter writer(*url, catchUpLog);
  flash.records = &writer;
  flash.recordsShown = url->shown;
  const int code = run();
  flash.records = nullptr;
  // Every run is in only when none waits and the log's catch-up was read to its end.
  const bool allIn = writer.Finish(kWaitAtEnd);
  if (allIn && !tellAlways) return code;
  const size_t waiting = writer.Waiting();
  const size_t dropped = writer.Dropped();
  const std::string why = writer.LastError();
  if (flash.json) {
    std::fprintf(stdout, "%s\n",
                 text::JsonLine({{"event", "records"}, {"database", url->shown}, {"waiting", waiting},
                                {"caught_up", writer.CaughtUp()}, {"dropped", dropped},
                                {"error", text::TextOrNull(why)}})
                     .c_str());
  } else if (allIn && dropped == 0) {
    std::fprintf(stderr, "brenvik-cli: every run is in the database %s\n", text::Printable(url->shown).c_str());
  } else {
    std::string text;
    if (!allIn) {
      // A catch-up not read to its end leaves it open how many of the log's runs are missing.
      const bool caughtUp = writer.CaughtUp();
      const std::string runs = std::to_string(waiting) + (waiting == 1 ? " run" : " runs");
      text = waiting == 0 ? "the runs of the log are not all"
             : caughtUp   ? runs + (waiting == 1 ? " is not" : " are not")
                          : runs + ", and maybe more of the log, are not";
      text += " in the database " + url->shown + " yet" + (why.empty() ? "" : " (" + why + ")");
      text += flash.logPath.empty() ? ": without --log they are not kept anywhere else"
                                    : ": they are in the log, and 'brenvik-cli records import " + flash.logPath +
                                          (caughtUp ? "' adds them" : "' (with its rotated files) adds them");
    }
    if (dropped)
      text += (text.empty() ? "" : "; ") + std::to_string(dropped) +
              (dropped == 1 ? " run was" : " runs were") +
              " given up: too many waited for the database and there was no --log to keep them";
    std::fprintf(stderr, "brenvik-cli: %s\n", text::Printable(text).c_str());
  }
  std::fflush(nullptr);
  return code;
}

// The records command and its three subcommands, with what they were given.
struct RecordsCli::Commands {
  explicit Commands(CLI::App& app);
  void AddFilters(CLI::App& command);
  RecordsArgs args;
  CLI::App* records = nullptr;
  CLI::App* import = nullptr;
  CLI::App* find = nullptr;
  CLI::App* summary = nullptr;
  CLI::App* report = nullptr;
};

RecordsCli::Commands::Commands(CLI::App& app) {
  records = app.add_subcommand("records", "Every run in a database: import logs, find runs, summarise them, report in HTML.");
  records->require_subcommand(1);
  records->footer(
      "Exit codes:\n  0  done (malformed lines of a log are told and skipped)\n  1  the database, or a log, failed part way\n"
      "  2  bad usage, or a database or log that cannot be used");

  import = records->add_subcommand("import", "Add the runs of flash logs; a run already there is not added again.");
  import->add_option("LOG", args.logs,
                     "Log files written by flash --log or station --log; rotated ones compressed with gzip too, "
                     "and - for standard input")
      ->required();
  import->add_option("--db", args.db, kDbHelp);
  import->add_flag("--json", args.json, "The counts as one JSON line.");

  find = records->add_subcommand("find", "The runs that match, oldest first.");
  AddFilters(*find);
  find->add_flag("--json", args.json, "One JSON line per run instead of a table.");

  summary = records->add_subcommand(
      "summary", "Per group: runs, successes, the failure rate, the median and 95th percentile of the duration.");
  summary->add_option("--by", args.by, "hour, day, station, image or result")
      ->check(CLI::IsMember({"hour", "day", "station", "image", "result"}))
      ->required();
  AddFilters(*summary);
  summary->add_flag("--json", args.json, "One JSON line per group instead of a table.");

  report = records->add_subcommand(
      "report", "One HTML file to look at: runs per hour, success per station, causes, durations, repeat failures.");
  report->add_option("--html", args.html, "The HTML file to write (replaced if it is there)")->required();
  AddFilters(*report);
}

void RecordsCli::Commands::AddFilters(CLI::App& c) {
  Filter& f = args.filter;
  c.add_option("--db", args.db, kDbHelp);
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

RecordsCli::RecordsCli(CLI::App& app) : m_commands(std::make_unique<Commands>(app)) {}
RecordsCli::~RecordsCli() = default;

bool RecordsCli::Parsed() const { return m_commands->records->parsed(); }

int RecordsCli::Run() {
  const Commands& c = *m_commands;
  if (c.import->parsed()) return RunRecordsImport(c.args, stdout, stderr);
  if (c.find->parsed()) return RunRecordsFind(c.args, stdout, stderr);
  if (c.summary->parsed()) return RunRecordsSummary(c.args, stdout, stderr);
  if (c.report->parsed()) return RunRecordsReport(c.args, stdout, stderr);
  return kExitUsage;
}

}  // namespace brenvik::cli
