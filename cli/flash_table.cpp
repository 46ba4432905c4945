#include "flash_table.h"

#include <algorithm>

#include "commands.h"
#include "text/json_text.h"
#include "text/printable.h"
#include "progress_text.h"

namespace brenvik::cli {

using text::JsonLine;
using text::Printable;
using text::TextOrNull;
using text::WholeOrNull;

namespace {

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double KiBPerSecond(const FlashReport& r) { return r.seconds > 0 ? double(r.bytesSent) / 1024 / r.seconds : 0; }

// The rate the run's last line showed; a run that sent nothing has none.
std::string Speed(const FlashReport& r) { return r.averageRate ? RateText(*r.averageRate) : "-"; }

}  // namespace

void PrintSummary(const std::vector<FlashReport>& reports, bool json, std::FILE* out, bool identities) {
  if (json) {
    nlohmann::json runs = nlohmann::json::array();
    for (const FlashReport& r : reports) {
      nlohmann::json run{{"device", r.device}, {"kind", r.kind}, {"bytes_sent", r.bytesSent},
                         {"seconds", r.seconds}, {"kib_per_second", KiBPerSecond(r)},
                         {"average_rate", WholeOrNull(r.averageRate)}, {"result", station::ResultName(r.result)},
                         {"cause", TextOrNull(r.cause)}};
      if (identities) run.update({{"serial", TextOrNull(r.serial)}, {"usb_port", TextOrNull(r.usbPort)}});
      runs.push_back(std::move(run));
    }
    nlohmann::json j{{"event", "summary"}, {"runs", runs}};
    std::fprintf(out, "%s\n", JsonLine(j).c_str());
    std::fflush(out);
    return;
  }
  std::vector<std::vector<std::string>> rows{{"device", "kind", "bytes", "time", "speed", "result", "cause"}};
  for (const FlashReport& r : reports)
    rows.push_back({Printable(r.device), std::to_string(r.kind), std::to_string(r.bytesSent),
                    Format("%.1f s", r.seconds), Speed(r), station::ResultName(r.result), Printable(r.cause)});
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      std::string cell = row[c];
      // Numbers line up on the right; the last column is not padded.
      const bool number = c >= 2 && c <= 4;
      if (c + 1 < row.size()) cell = number ? std::string(widths[c] - cell.size(), ' ') + cell
                                            : cell + std::string(widths[c] - cell.size(), ' ');
      line += (c ? "  " : "") + cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  }
  std::fflush(out);
}

int SummaryExitCode(const std::vector<FlashReport>& reports, std::FILE* err) {
  for (const FlashReport& r : reports)
    if (r.exitCode >= 128) return r.exitCode;
  if (std::none_of(reports.begin(), reports.end(), [](const FlashReport& r) { return r.opened; }))
    return kExitNoDevice;
  std::string failed;
  for (const FlashReport& r : reports)
    if (r.exitCode != kExitOk) failed += (failed.empty() ? "" : ", ") + Printable(r.device);
  if (failed.empty()) return kExitOk;
  std::fprintf(err, "brenvik-cli: failed: %s\n", failed.c_str());
  return kExitRunFailed;
}

}  // namespace brenvik::cli
