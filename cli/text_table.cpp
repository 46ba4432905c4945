#include "text_table.h"

#include <algorithm>

#include "text/display_width.h"

namespace brenvik::cli {

using text::CutToWidth;
using text::DisplayWidth;
using text::ShortenMiddle;

std::vector<std::string> FitTable(const std::vector<TableColumn>& columns,
                                  const std::vector<std::vector<std::string>>& rows, size_t width) {
  const size_t n = columns.size();
  std::vector<size_t> widths(n);
  for (size_t c = 0; c < n; ++c) {
    widths[c] = DisplayWidth(columns[c].title);
    for (const auto& row : rows) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  const size_t gaps = n ? 2 * (n - 1) : 0;
  auto total = [&] {
    size_t sum = gaps;
    for (size_t w : widths) sum += w;
    return sum;
  };
  // The widest column that may give way gives a column at a time, until the table fits.
  while (width && total() > width) {
    size_t pick = n;
    for (size_t c = 0; c < n; ++c)
      if (columns[c].shrinkTo && widths[c] > columns[c].shrinkTo && (pick == n || widths[c] > widths[pick])) pick = c;
    if (pick == n) break;
    widths[pick] = std::max(columns[pick].shrinkTo, widths[pick] - std::min(widths[pick] - columns[pick].shrinkTo,
                                                                            total() - width));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < n; ++c) {
      std::string cell = cells[c];
      if (DisplayWidth(cell) > widths[c])
        cell = columns[c].middle ? ShortenMiddle(cell, widths[c]) : CutToWidth(cell, widths[c]);
      const std::string pad(widths[c] - std::min(widths[c], DisplayWidth(cell)), ' ');
      if (c) text += "  ";
      text += columns[c].right ? pad + cell : c + 1 == n ? cell : cell + pad;
    }
    return text;
  };
  std::vector<std::string> titles;
  for (const TableColumn& c : columns) titles.push_back(c.title);
  std::vector<std::string> lines{line(titles)};
  for (const auto& row : rows) lines.push_back(line(row));
  return lines;
}

}  // namespace brenvik::cli
