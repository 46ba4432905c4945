// Progress as a person reads it (percent of bytes, amount, rate, time left), and how a bar or
// a board of several handsets is fitted into a terminal without a line ever wrapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/rate_meter.h"

namespace brenvik::cli {

// Range, position and status as the run reports them, and its bytes through a rate meter.
struct RunProgress {
  uint32_t max = 0, pos = 0;
  std::string status;
  RateMeter meter;
  // Of the bytes once they are known, else of the range; never above 100.
  unsigned Percent() const;
};

struct Figures {
  unsigned percent = 0;
  std::string amount;  // "12.0/32.0 MiB"; empty before the bytes are known
  std::string rate;    // "7.9 MiB/s"; empty while unknown
  std::string left;    // "0:02 left"; empty while unknown
};
// While the run goes: the window's rate and the time left; at its end: the average rate.
Figures FiguresOf(const RunProgress& p, bool final);

std::string AmountText(uint64_t sent, uint64_t total);
std::string RateText(double bytesPerSecond);
std::string LeftText(double seconds);

// The one bar of a single run, fitted into `width` columns: the status goes first, then
// the time left, then it is cut.
std::string FitBar(const Figures& f, const std::string& status, size_t width);

// kGone: a port whose handset left; its row stays, and it counts as no handset at all.
enum class RowState { kWaiting, kFlashing, kDone, kFailed, kGone };
struct BoardRow {
  std::string name;
  RowState state = RowState::kWaiting;
  Figures figures;
  std::string text;
  bool plain = false;  // a line of its own (a station's header): `text` alone, always shown first
  // A plain line's end that gives way last: `text` is cut first to leave it room.
  std::string tail;
};
// The columns a name may take on a board of `width`; longer names are shortened in the middle.
size_t NameBudget(size_t width);
// A row of `width` columns, its name padded (or shortened) to `nameColumn` (0: the budget).
std::string FitRow(const BoardRow& row, size_t width, size_t nameColumn = 0);
// The lines of a board of `width` x `height` (0: unknown). When the handsets outnumber the
// rows, a line of counts comes first, then the rows that fit, failing and running first.
// With `colour`, done rows are green and failed ones red; the colour takes no columns.
std::vector<std::string> FitBoard(const std::vector<BoardRow>& rows, size_t width, size_t height,
                                  bool colour = false);

}  // namespace brenvik::cli
