// brenvik-cli records report --html FILE: one HTML file a manager opens in any browser, with
// nothing outside it: its CSS and SVG inline, no script, and a policy that would run none.
// Every text of the records is escaped for HTML.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

#include "commands.h"
#include "db_url.h"
#include "records_commands.h"
#include "report.h"
#include "store.h"
#include "text/html_text.h"
#include "text/json_text.h"
#include "text/printable.h"

namespace brenvik::cli {
namespace {

using records::Report;
using text::BytesOfHex;
using text::HtmlText;

std::string Fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

// Exact, for the page's data attributes: what a reader of the page compares.
std::string Exact(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Percent(size_t part, size_t whole) { return whole ? Fixed(100.0 * double(part) / double(whole), 1) + "%" : "-"; }

const char* const kStyle = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#222;max-width:1040px}
h1{font-size:22px;margin:0 0 8px}h2{font-size:17px;margin:28px 0 8px}
dl{display:grid;grid-template-columns:max-content auto;gap:2px 12px;margin:0;color:#555}dt{font-weight:600}dd{margin:0}
.totals{font-size:16px;margin:12px 0}
table{border-collapse:collapse}th,td{padding:3px 10px;text-align:left;border-bottom:1px solid #ddd;vertical-align:middle}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
.bar{display:inline-block;height:10px;background:#3a8f4b}.bar.fail{background:#c0392b}
.legend span{display:inline-block;width:10px;height:10px;margin:0 4px 0 12px}
.success{fill:#3a8f4b;background:#3a8f4b}.failed{fill:#c0392b;background:#c0392b}.stopped{fill:#e0a030;background:#e0a030}
.none{color:#777}
)";

// "2026-12-07 14:00", escaped: the hour is the head of a time the records hold.
std::string HourText(const std::string& hour) {
  return HtmlText(hour.substr(0, 10) + " " + (hour.size() > 11 ? hour.substr(11) : std::string()) + ":00");
}

void Hours(std::string& h, const Report& r) {
  h += "<section id=\"hours\"><h2>Runs per hour (UTC)</h2>\n";
  if (r.hours.empty()) {
    h += "<p class=\"none\">No runs.</p></section>\n";
    return;
  }
  size_t most = 1;
  for (const auto& x : r.hours) most = std::max(most, x.success + x.failed + x.stopped);
  const double width = 960, height = 220, left = 40, bottom = 20;
  const double bar = width / double(r.hours.size());
  h += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fixed(width + left + 10, 0) + "\" height=\"" +
       Fixed(height + bottom + 10, 0) + "\" role=\"img\" aria-label=\"runs per hour\">\n";
  h += "<line x1=\"" + Fixed(left, 0) + "\" y1=\"" + Fixed(height, 0) + "\" x2=\"" + Fixed(left + width, 0) + "\" y2=\"" +
       Fixed(height, 0) + "\" stroke=\"#999\"/>\n";
  h += "<text x=\"" + Fixed(left - 4, 0) + "\" y=\"12\" text-anchor=\"end\" font-size=\"11\">" + std::to_string(most) +
       "</text><text x=\"" + Fixed(left - 4, 0) + "\" y=\"" + Fixed(height, 0) +
       "\" text-anchor=\"end\" font-size=\"11\">0</text>\n";
  for (size_t i = 0; i < r.hours.size(); ++i) {
    const auto& x = r.hours[i];
    const double at = left + double(i) * bar;
    double top = height;
    h += "<g><title>" + HourText(x.hour) + ": " + std::to_string(x.success) +
         " success, " + std::to_string(x.failed) + " failed, " + std::to_string(x.stopped) + " stopped</title>";
    for (auto [count, cls] : {std::pair{x.success, "success"}, {x.failed, "failed"}, {x.stopped, "stopped"}}) {
      if (!count) continue;
      const double tall = height * double(count) / double(most);
      top -= tall;
      h += "<rect class=\"" + std::string(cls) + "\" x=\"" + Fixed(at, 2) + "\" y=\"" + Fixed(top, 2) + "\" width=\"" +
           Fixed(std::max(bar * 0.85, 0.5), 2) + "\" height=\"" + Fixed(tall, 2) + "\"/>";
    }
    h += "</g>\n";
  }
  // The first and last hours under the axis, and one between where there is room.
  std::vector<size_t> marks = {0};
  if (r.hours.size() > 2) marks.push_back(r.hours.size() / 2);
  if (r.hours.size() > 1) marks.push_back(r.hours.size() - 1);
  for (size_t i : marks) {
    const std::string& hour = r.hours[i].hour;
    const char* anchor = i == 0 ? "start" : i + 1 == r.hours.size() ? "end" : "middle";
    h += "<text x=\"" + Fixed(left + (double(i) + (i == 0 ? 0 : 1)) * bar, 1) + "\" y=\"" + Fixed(height + 15, 0) +
         "\" text-anchor=\"" + anchor + "\" font-size=\"11\">" + HourText(hour) + "</text>\n";
  }
  h += "</svg>\n<p class=\"legend\"><span class=\"success\"></span>success<span class=\"failed\"></span>failed"
       "<span class=\"stopped\"></span>stopped</p></section>\n";
}

void Stations(std::string& h, const Report& r) {
  h += "<section id=\"stations\"><h2>Success rate per station</h2>\n<table><tr><th>station</th><th class=\"n\">runs</th>"
       "<th class=\"n\">successes</th><th class=\"n\">success rate</th><th></th></tr>\n";
  for (const auto& s : r.stations) {
    const double rate = s.runs ? double(s.successes) / double(s.runs) : 0;
    h += "<tr class=\"station\" data-station=\"" + HtmlText(s.station) + "\" data-runs=\"" + std::to_string(s.runs) +
         "\" data-successes=\"" + std::to_string(s.successes) + "\" data-failure-rate=\"" + Exact(1 - rate) + "\"><td>" +
         (s.station.empty() ? "<span class=\"none\">(unknown)</span>" : HtmlText(s.station)) + "</td><td class=\"n\">" +
         std::to_string(s.runs) + "</td><td class=\"n\">" + std::to_string(s.successes) + "</td><td class=\"n\">" +
         Percent(s.successes, s.runs) + "</td><td><span class=\"bar\" style=\"width:" + Fixed(200 * rate, 0) +
         "px\"></span><span class=\"bar fail\" style=\"width:" + Fixed(200 * (1 - rate), 0) + "px\"></span></td></tr>\n";
  }
  h += "</table></section>\n";
}

void Causes(std::string& h, const Report& r) {
  h += "<section id=\"causes\"><h2>Failure causes</h2>\n";
  if (r.causes.empty()) {
    h += "<p class=\"none\">No failures.</p></section>\n";
    return;
  }
  const size_t most = r.causes.front().runs;
  h += "<table><tr><th class=\"n\">runs</th><th></th><th>cause (numbers as N)</th></tr>\n";
  for (const auto& c : r.causes)
    h += "<tr class=\"cause\" data-runs=\"" + std::to_string(c.runs) + "\"><td class=\"n\">" + std::to_string(c.runs) +
         "</td><td><span class=\"bar fail\" style=\"width:" + Fixed(160.0 * double(c.runs) / double(most), 0) +
         "px\"></span></td><td>" + (c.cause.empty() ? "<span class=\"none\">(none given)</span>" : HtmlText(c.cause)) +
         "</td></tr>\n";
  h += "</table></section>\n";
}

void Images(std::string& h, const Report& r) {
  h += "<section id=\"images\"><h2>Durations per image</h2>\n<table><tr><th>image</th><th class=\"n\">runs</th>"
       "<th class=\"n\">median s</th><th class=\"n\">95th percentile s</th></tr>\n";
  for (const auto& i : r.images) {
    const std::string name = HtmlText(i.imageBytes.empty() ? i.image : BytesOfHex(i.imageBytes));
    h += "<tr class=\"image\" data-image=\"" + HtmlText(i.image) + "\" data-runs=\"" + std::to_string(i.runs) + "\"" +
         (i.median ? " data-median=\"" + Exact(*i.median) + "\" data-p95=\"" + Exact(*i.p95) + "\"" : std::string()) +
         "><td>" + name + "</td><td class=\"n\">" + std::to_string(i.runs) + "</td><td class=\"n\">" +
         (i.median ? Fixed(*i.median, 3) : "") + "</td><td class=\"n\">" + (i.p95 ? Fixed(*i.p95, 3) : "") +
         "</td></tr>\n";
  }
  h += "</table></section>\n";
}

void Handsets(std::string& h, const Report& r) {
  h += "<section id=\"handsets\"><h2>Handsets that failed more than once</h2>\n";
  if (r.handsets.empty()) {
    h += "<p class=\"none\">None.</p></section>\n";
    return;
  }
  h += "<table><tr><th>serial</th><th class=\"n\">failures</th><th>last result</th><th>when (UTC)</th>"
       "<th>its cause</th></tr>\n";
  for (const auto& s : r.handsets)
    h += "<tr class=\"handset\" data-failures=\"" + std::to_string(s.failures) + "\"><td>" + HtmlText(s.serial) +
         "</td><td class=\"n\">" + std::to_string(s.failures) + "</td><td class=\"" + HtmlText(s.lastResult) + "-text\">" +
         HtmlText(s.lastResult) + "</td><td>" + HtmlText(s.lastTime.substr(0, 10) + " " + s.lastTime.substr(11, 8)) + "</td><td>" + HtmlText(s.lastCause) +
         "</td></tr>\n";
  h += "</table></section>\n";
}

std::string FiltersText(const records::Filter& f) {
  std::string out;
  auto add = [&](const char* name, const std::string& value) {
    if (!value.empty()) out += std::string(out.empty() ? "" : ", ") + name + " " + value;
  };
  add("--serial", f.serialPrefix);
  add("--sha256", f.sha256Prefix);
  add("--image", f.image);
  add("--device", f.device);
  add("--usb-port", f.usbPort);
  add("--result", f.result);
  add("--station", f.station);
  add("--since", f.since);
  add("--until", f.until);
  return out.empty() ? "none: every run" : out;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

}  // namespace

std::string ReportHtml(const Report& r, const records::Filter& filter, const std::string& database);

int RunRecordsReport(const RecordsArgs& args, std::FILE* out, std::FILE* err) {
  auto say = [&](const std::string& text) { std::fprintf(err, "brenvik-cli: %s\n", text::Printable(text).c_str()); };
  std::string error;
  const auto where = records::BuildWhere(args.filter, std::time(nullptr), error);
  if (!where) {
    say(error);
    return kExitUsage;
  }
  const auto url = records::ChooseDbUrl(args.db, error);
  if (!url) {
    say(error);
    return kExitUsage;
  }
  Report report;
  try {
    auto store = records::OpenStore(*url, records::Access::kRead);
    report = records::GatherReport(*store, *where);
  } catch (const records::StoreError& e) {
    say(e.what());
    return kExitRunFailed;
  }
  const std::string html = ReportHtml(report, args.filter, url->shown);
  // Written beside the file and renamed over it: a report is whole or not there.
  const std::string part = args.html + ".part";
  std::ofstream file(part, std::ios::binary | std::ios::trunc);
  file.write(html.data(), std::streamsize(html.size()));
  file.close();
  if (!file || std::rename(part.c_str(), args.html.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(part.c_str());
    say("the report " + args.html + " could not be written: " + why);
    return kExitUsage;
  }
  std::fprintf(out, "%s: %zu runs\n", text::Printable(args.html).c_str(), report.runs);
  return kExitOk;
}

std::string ReportHtml(const Report& r, const records::Filter& filter, const std::string& database) {
  std::string h;
  h.reserve(64 * 1024 + r.hours.size() * 200);
  h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
       "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
       "<title>Flashing records</title><style>";
  h += kStyle;
  h += "</style></head><body>\n<header><h1>Flashing records</h1><dl><dt>Filters</dt><dd id=\"filters\">" +
       HtmlText(FiltersText(filter)) + "</dd><dt>Database</dt><dd id=\"database\">" + HtmlText(database) +
       "</dd><dt>Made</dt><dd id=\"made\">" + UtcNow() + "</dd></dl>\n";
  h += "<p class=\"totals\"><span id=\"runs\">" + std::to_string(r.runs) + "</span> runs, <span id=\"successes\">" +
       std::to_string(r.successes) + "</span> successes (" + Percent(r.successes, r.runs) + ")</p></header>\n";
  Hours(h, r);
  Stations(h, r);
  Causes(h, r);
  Images(h, r);
  Handsets(h, r);
  h += "</body></html>\n";
  return h;
}

}  // namespace brenvik::cli
