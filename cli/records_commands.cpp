#include "records_commands.h"

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <ctime>

#include "importer.h"
#include "log_reader.h"
#include "store.h"
#include "summary.h"
#include "text/json_text.h"
#include "text/printable.h"
#include "text/terminal_size.h"
#include "text_table.h"

namespace brenvik::cli {

using enum records::Column;
using records::BadLine;
using records::BuildWhere;
using records::ChooseDbUrl;
using records::Group;
using records::GroupBy;
using records::ImportCounts;
using records::ImportLog;
using records::LogError;
using records::OpenStore;
using records::ParseGroupBy;
using records::Store;
using records::StoreError;
using records::Summarise;
using records::Values;
using records::ColumnName;
using records::InLog;
using records::ValueKind;
using records::kColumns;
using records::Where;
using text::BytesOfHex;
using text::Printable;

namespace {

using nlohmann::json;

constexpr int kOk = 0, kFailed = 1, kUsage = 2;
constexpr size_t kImportBatch = 100000;

void Say(std::FILE* err, const std::string& text) { std::fprintf(err, "brenvik-cli: %s\n", text.c_str()); }

std::unique_ptr<Store> Open(const RecordsArgs& args, std::FILE* err, records::Access access) {
  std::string error;
  const auto url = ChooseDbUrl(args.db, error);
  if (!url) {
    Say(err, Printable(error));
    return nullptr;
  }
  try {
    return OpenStore(*url, access);
  } catch (const StoreError& e) {
    Say(err, Printable(e.what()));
    return nullptr;
  }
}

// The filters as SQL, then the store they are asked of: find and summary both start so.
// Nothing, with the reason said, when either cannot be had; the filters go first, so that a
// mistyped --since never waits on a database.
std::unique_ptr<Store> OpenFiltered(const RecordsArgs& args, std::FILE* err, std::optional<Where>& where) {
  std::string error;
  where = BuildWhere(args.filter, std::time(nullptr), error);
  if (!where) {
    Say(err, error);
    return nullptr;
  }
  return Open(args, err, records::Access::kRead);
}

// A path as a terminal shows it: from its bytes where it is no UTF-8, so that two paths that
// differ only there are told apart.
std::string ShownPath(const std::optional<std::string>& text, const std::optional<std::string>& bytes) {
  return Printable(bytes ? BytesOfHex(*bytes) : text.value_or(""));
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s);
  return text;
}

// Every column of the row, in its order: the JSON names them so, and the table picks some.
std::vector<records::Column> FindColumns() {
  std::vector<records::Column> columns;
  for (size_t c = 0; c < kColumnCount; ++c) columns.push_back(records::Column(c));
  return columns;
}

json RunJson(const Values& v) {
  json j = json::object();
  for (size_t c = 0; c < kColumnCount; ++c) {
    const char* name = ColumnName(c);
    if (!v[c]) {
      // A name's bytes are there only where the name is no UTF-8, as in the log.
      if (kColumns[c].inLog != InLog::kWhereNoUtf8) j[name] = nullptr;
      continue;
    }
    const std::string& text = *v[c];
    switch (kColumns[c].kind) {
      case ValueKind::kWhole: j[name] = std::strtoll(text.c_str(), nullptr, 10); break;
      case ValueKind::kNumber: j[name] = std::strtod(text.c_str(), nullptr); break;
      case ValueKind::kText: j[name] = text; break;
    }
  }
  return j;
}

}  // namespace

int RunRecordsImport(const RecordsArgs& args, std::FILE* out, std::FILE* err) {
  auto store = Open(args, err, records::Access::kWrite);
  if (!store) return kUsage;
  ImportCounts counts;
  const bool terminal = text::IsTerminal(err);
  int code = kOk;
  try {
    store->BeginImport();
  } catch (const StoreError& e) {
    Say(err, Printable(e.what()));
    return kFailed;
  }
  for (const std::string& log : args.logs) {
    auto progress = [&](size_t lines) {
      if (terminal) std::fprintf(err, "\r%s: %zu lines\x1B[K", Printable(log).c_str(), lines), std::fflush(err);
    };
    try {
      // "-": standard input. Large batches: the random keys' index pages are written once
      // per batch, a fifth as often as a station's catch-up writes them.
      ImportLog(*store, log == "-" ? "" : log, counts, progress, kImportBatch);
    } catch (const LogError& e) {
      if (terminal) std::fprintf(err, "\r\x1B[K");
      Say(err, Printable(e.what()));
      code = kUsage;
    } catch (const StoreError& e) {
      if (terminal) std::fprintf(err, "\r\x1B[K");
      Say(err, Printable(e.what()));
      if (code == kOk) code = kFailed;
    }
    if (terminal) std::fprintf(err, "\r\x1B[K");
  }
  try {
    if (terminal) std::fprintf(err, "indexing...\r"), std::fflush(err);
    store->EndImport();
  } catch (const StoreError& e) {
    Say(err, Printable(e.what()));
    if (code == kOk) code = kFailed;
  }
  if (terminal) std::fprintf(err, "\r\x1B[K");
  for (const BadLine& b : counts.bad)
    if (!args.json) Say(err, Printable(b.file) + ":" + std::to_string(b.line) + ": skipped: " + b.why);
  if (args.json) {
    json bad = json::array();
    for (const BadLine& b : counts.bad) bad.push_back({{"file", b.file}, {"line", b.line}, {"why", b.why}});
    std::fprintf(out, "%s\n",
                 text::JsonLine({{"new", counts.added}, {"already_there", counts.already}, {"malformed", counts.malformed},
                                {"malformed_lines", bad}})
                     .c_str());
  } else {
    std::fprintf(out, "%zu new, %zu already there, %zu malformed\n", counts.added, counts.already, counts.malformed);
  }
  return code;
}

int RunRecordsFind(const RecordsArgs& args, std::FILE* out, std::FILE* err) {
  std::optional<Where> where;
  auto store = OpenFiltered(args, err, where);
  if (!store) return kUsage;
  std::vector<std::vector<std::string>> rows;
  try {
    store->Select({FindColumns(), *where, true}, [&](const Values& v) {
      if (args.json) {
        std::fprintf(out, "%s\n", text::JsonLine(RunJson(v)).c_str());
        return;
      }
      const std::string time = v[kTime]->substr(0, 19);
      rows.push_back({time.substr(0, 10) + " " + time.substr(11), Printable(v[kStation].value_or("")),
                      Printable(v[kUsbSerial].value_or("")), Printable(v[kUsbPort].value_or("")),
                      ShownPath(v[kDevice], v[kDeviceBytes]), ShownPath(v[kImage], v[kImageBytes]),
                      v[kSha256] ? v[kSha256]->substr(0, 12) : "", *v[kResult],
                      v[kSeconds] ? Seconds(std::strtod(v[kSeconds]->c_str(), nullptr)) : "",
                      Printable(v[kCause].value_or(""))});
    });
  } catch (const StoreError& e) {
    Say(err, Printable(e.what()));
    return kFailed;
  }
  if (args.json) return kOk;
  if (rows.empty()) {
    std::fprintf(err, "no run found\n");
    return kOk;
  }
  const std::vector<TableColumn> columns = {
      {"time (UTC)"}, {"station", false, 8},  {"serial", false, 10},  {"port", false, 6},
      {"device", false, 10, true}, {"image", false, 12, true}, {"sha256"}, {"result"},
      {"seconds", true}, {"cause", false, 10}};
  for (const std::string& line : FitTable(columns, rows, text::QueryTerminalSize(out).columns))
    std::fprintf(out, "%s\n", line.c_str());
  return kOk;
}

int RunRecordsSummary(const RecordsArgs& args, std::FILE* out, std::FILE* err) {
  const auto by = ParseGroupBy(args.by);
  if (!by) {
    Say(err, "--by must be hour, day, station, image or result");
    return kUsage;
  }
  std::optional<Where> where;
  auto store = OpenFiltered(args, err, where);
  if (!store) return kUsage;
  std::vector<Group> groups;
  try {
    groups = Summarise(*store, *where, *by);
  } catch (const StoreError& e) {
    Say(err, Printable(e.what()));
    return kFailed;
  }
  auto keyText = [&](const Group& g) {
    if (*by == GroupBy::kHour && g.key.size() == 13) return g.key.substr(0, 10) + " " + g.key.substr(11) + ":00";
    if (*by == GroupBy::kImage) return ShownPath(g.key, g.keyBytes.empty() ? std::nullopt : std::optional(g.keyBytes));
    return g.key.empty() ? std::string("(unknown)") : Printable(g.key);
  };
  if (args.json) {
    for (const Group& g : groups) {
      json j{{"by", args.by}, {args.by, g.key.empty() ? json(nullptr) : json(g.key)}, {"runs", g.runs},
             {"successes", g.successes}, {"failure_rate", g.FailureRate()},
             {"median_seconds", g.median ? json(*g.median) : json(nullptr)},
             {"p95_seconds", g.p95 ? json(*g.p95) : json(nullptr)},
             {"success_median_seconds", g.successMedian ? json(*g.successMedian) : json(nullptr)},
             {"success_p95_seconds", g.successP95 ? json(*g.successP95) : json(nullptr)}};
      if (!g.keyBytes.empty()) j[args.by + "_bytes"] = g.keyBytes;
      std::fprintf(out, "%s\n", text::JsonLine(j).c_str());
    }
    return kOk;
  }
  std::vector<std::vector<std::string>> rows;
  for (const Group& g : groups) {
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.1f%%", 100 * g.FailureRate());
    rows.push_back({keyText(g), std::to_string(g.runs), std::to_string(g.successes), rate,
                    g.median ? Seconds(*g.median) : "", g.p95 ? Seconds(*g.p95) : "",
                    g.successMedian ? Seconds(*g.successMedian) : "", g.successP95 ? Seconds(*g.successP95) : ""});
  }
  if (rows.empty()) {
    std::fprintf(err, "no run found\n");
    return kOk;
  }
  const std::string title = *by == GroupBy::kHour ? "hour (UTC)" : *by == GroupBy::kDay ? "day (UTC)" : args.by;
  const std::vector<TableColumn> columns = {{title, false, 12, *by == GroupBy::kImage},
                                            {"runs", true},
                                            {"successes", true},
                                            {"failure rate", true},
                                            {"median s", true},
                                            {"p95 s", true},
                                            {"ok median s", true},
                                            {"ok p95 s", true}};
  for (const std::string& line : FitTable(columns, rows, text::QueryTerminalSize(out).columns))
    std::fprintf(out, "%s\n", line.c_str());
  return kOk;
}

}  // namespace brenvik::cli
