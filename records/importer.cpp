#include "importer.h"

namespace brenvik::records {

void ImportLog(Store& store, const std::string& path, ImportCounts& counts,
               const std::function<void(size_t lines)>& progress, size_t rowsPerBatch) {
  LogReader log(path);
  std::vector<Row> batch;
  std::vector<size_t> numbers;  // each row's line, to name a row the database refuses
  batch.reserve(rowsPerBatch);
  numbers.reserve(rowsPerBatch);
  auto flush = [&] {
    if (batch.empty()) return;
    size_t refused = 0;
    const size_t added = store.Insert(batch, [&](size_t index, const std::string& why) {
      ++refused;
      ++counts.malformed;
      counts.bad.push_back({log.Name(), numbers[index], "the database refused it: " + why});
    });
    counts.added += added;
    counts.already += batch.size() - added - refused;
    batch.clear();
    numbers.clear();
  };
  std::string_view line;
  std::string why;
  for (;;) {
    try {
      if (!log.Next(line)) break;
    } catch (const StoreError&) {
      flush();  // what was read before the damage goes in all the same
      throw;
    }
    if (log.TooLong()) {
      ++counts.malformed;
      counts.bad.push_back({log.Name(), log.Number(), "it is longer than 4 MiB: no run's line is"});
      continue;
    }
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (auto row = ParseLogLine(line, why)) {
      batch.push_back(std::move(*row));
      numbers.push_back(log.Number());
      if (batch.size() == rowsPerBatch) {
        flush();
        if (progress) progress(log.Number());
      }
    } else {
      ++counts.malformed;
      counts.bad.push_back({log.Name(), log.Number(), why});
    }
  }
  flush();
}

}  // namespace brenvik::records
