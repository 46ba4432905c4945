#include "progress_text.h"

#include "text/display_width.h"
#include "text/printable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brenvik::cli {

using text::CutToWidth;
using text::DisplayWidth;
using text::Printable;
using text::ShortenMiddle;

unsigned RunProgress::Percent() const {
  if (meter.Total() > 0) return unsigned(std::min(meter.Sent(), meter.Total()) * 100 / meter.Total());
  if (max == 0) return 0;
  return unsigned(uint64_t(std::min(pos, max)) * 100 / max);
}

namespace {

struct Unit {
  double size;
  const char* name;
};

Unit UnitFor(double bytes) {
  if (bytes >= double(1 << 30)) return {double(1 << 30), "GiB"};
  if (bytes >= double(1 << 20)) return {double(1 << 20), "MiB"};
  if (bytes >= 1024) return {1024, "KiB"};
  return {1, "B"};
}

std::string Join(const std::vector<std::string>& parts, const char* gap) {
  std::string out;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += gap;
    out += p;
  }
  return out;
}

std::string Bar(unsigned percent, size_t width) {
  std::string bar(percent * width / 100, '#');
  bar.resize(width, '.');
  return "[" + bar + "]";
}

std::string PercentText(unsigned percent) {
  char text[8];
  std::snprintf(text, sizeof text, "%3u%%", percent);
  return text;
}

// The first candidate that fits, else the last one cut to the width.
std::string FirstFitting(const std::vector<std::string>& candidates, size_t width) {
  for (const std::string& c : candidates)
    if (DisplayWidth(c) <= width) return c;
  return CutToWidth(candidates.back(), width);
}

}  // namespace

Figures FiguresOf(const RunProgress& p, bool final) {
  Figures f;
  f.percent = p.Percent();
  if (!p.meter.Started()) return f;
  f.amount = AmountText(p.meter.Sent(), p.meter.Total());
  if (final) {
    if (const auto average = p.meter.AverageRate()) f.rate = RateText(*average) + " average";
    return f;
  }
  if (const auto rate = p.meter.Rate()) f.rate = RateText(*rate);
  if (const auto left = p.meter.SecondsLeft(); left && f.rate.size()) f.left = LeftText(*left);
  return f;
}

std::string AmountText(uint64_t sent, uint64_t total) {
  const Unit u = UnitFor(double(total));
  char text[64];
  if (u.size == 1)
    std::snprintf(text, sizeof text, "%llu/%llu B", static_cast<unsigned long long>(sent),
                  static_cast<unsigned long long>(total));
  else
    std::snprintf(text, sizeof text, "%.1f/%.1f %s", double(sent) / u.size, double(total) / u.size, u.name);
  return text;
}

std::string RateText(double bytesPerSecond) {
  const Unit u = UnitFor(bytesPerSecond);
  char text[48];
  if (u.size == 1)
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  else
    std::snprintf(text, sizeof text, "%.1f %s/s", bytesPerSecond / u.size, u.name);
  return text;
}

std::string LeftText(double seconds) {
  // Rounded up: "0:00 left" only once nothing is left.
  const long long s = seconds <= 0 ? 0 : (long long)std::ceil(std::min(seconds, 359999.0));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld left", s / 60, s % 60);
  return text;
}


std::string FitBar(const Figures& f, const std::string& status, size_t width) {
  const std::string bar = Bar(f.percent, width >= 70 ? 30 : 10) + " " + PercentText(f.percent);
  return FirstFitting({Join({bar, f.amount, f.rate, f.left, Printable(status)}, "  "),
                       Join({bar, f.amount, f.rate, f.left}, "  "), Join({bar, f.amount, f.rate}, "  ")},
                      width);
}

size_t NameBudget(size_t width) {
  // What a running row needs beside its name: the bar, the amount and the rate.
  constexpr size_t kFigures = 56;
  return std::max<size_t>(12, width > kFigures + 12 ? width - kFigures : width / 3);
}

std::string FitRow(const BoardRow& row, size_t width, size_t nameColumn) {
  if (row.plain) {
    const std::string text = Printable(row.text);
    if (row.tail.empty()) return CutToWidth(text, width);
    const std::string tail = Printable(row.tail);
    const size_t room = width > DisplayWidth(tail) + 2 ? width - DisplayWidth(tail) - 2 : 0;
    if (room == 0) return CutToWidth(tail, width);
    return CutToWidth(text, room) + "  " + tail;
  }
  if (nameColumn == 0) nameColumn = NameBudget(width);
  std::string name = ShortenMiddle(Printable(row.name), nameColumn);
  name.append(nameColumn - std::min(nameColumn, DisplayWidth(name)), ' ');
  const Figures& f = row.figures;
  const std::string bar = Bar(f.percent, width >= 100 ? 20 : 10) + " " + PercentText(f.percent);
  const std::string text = Printable(row.text);
  // A finished row keeps its verdict; a running one gives up its status first. A run that
  // ended without a byte to count has no bar to show.
  const bool over = row.state == RowState::kDone || row.state == RowState::kFailed;
  if (over && f.amount.empty()) return FirstFitting({Join({name, text}, "  ")}, width);
  if (over)
    return FirstFitting({Join({name, bar, f.amount, f.rate, text}, "  "), Join({name, bar, text}, "  "),
                         Join({name, text}, "  ")},
                        width);
  return FirstFitting({Join({name, bar, f.amount, f.rate, f.left, text}, "  "),
                       Join({name, bar, f.amount, f.rate, f.left}, "  "), Join({name, bar, f.amount, f.rate}, "  "),
                       Join({name, bar, f.amount}, "  "), Join({name, bar}, "  ")},
                      width);
}

namespace {

// Painted after the fitting, so that the escapes never count as columns.
std::string Painted(const BoardRow& row, std::string line, bool colour) {
  if (!colour || row.plain) return line;
  if (row.state == RowState::kDone) return "\x1b[32m" + line + "\x1b[0m";
  if (row.state == RowState::kFailed) return "\x1b[31m" + line + "\x1b[0m";
  return line;
}

}  // namespace

std::vector<std::string> FitBoard(const std::vector<BoardRow>& rows, size_t width, size_t height, bool colour) {
  std::vector<std::string> lines;
  // The names take one column, as wide as the widest needs and the width allows.
  size_t column = 0;
  for (const BoardRow& r : rows)
    if (!r.plain) column = std::max(column, DisplayWidth(Printable(r.name)));
  column = std::min(column, NameBudget(width));
  // One row stays free below the board, for the cursor: a full screen would scroll.
  if (height == 0 || rows.size() < height) {
    for (const BoardRow& r : rows) lines.push_back(Painted(r, FitRow(r, width, column), colour));
    return lines;
  }
  size_t counts[5] = {}, handsets = 0;
  for (const BoardRow& r : rows) {
    if (r.plain) {
      lines.push_back(FitRow(r, width, column));
      continue;
    }
    ++counts[size_t(r.state)];
    if (r.state != RowState::kGone) ++handsets;
  }
  char line[160], shorter[160];
  std::snprintf(line, sizeof line, "%zu handsets: %zu done, %zu failed, %zu flashing, %zu waiting", handsets,
                counts[size_t(RowState::kDone)], counts[size_t(RowState::kFailed)],
                counts[size_t(RowState::kFlashing)], counts[size_t(RowState::kWaiting)]);
  std::snprintf(shorter, sizeof shorter, "%zu: %zu done %zu failed %zu flashing %zu waiting", handsets,
                counts[size_t(RowState::kDone)], counts[size_t(RowState::kFailed)],
                counts[size_t(RowState::kFlashing)], counts[size_t(RowState::kWaiting)]);
  lines.push_back(FirstFitting({line, shorter}, width));
  const size_t used = lines.size() + 1;
  const size_t slots = height > used ? height - used : 0;
  auto rank = [](RowState s) {
    switch (s) {
      case RowState::kFailed: return 0;
      case RowState::kFlashing: return 1;
      case RowState::kWaiting: return 2;
      case RowState::kDone: return 3;
      case RowState::kGone: return 4;
    }
    return 3;
  };
  std::vector<size_t> order;
  for (size_t i = 0; i < rows.size(); ++i)
    if (!rows[i].plain) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return rank(rows[a].state) < rank(rows[b].state); });
  order.resize(std::min(slots, order.size()));
  for (size_t i : order) lines.push_back(Painted(rows[i], FitRow(rows[i], width, column), colour));
  return lines;
}

}  // namespace brenvik::cli
