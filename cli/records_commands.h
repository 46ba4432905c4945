// brenvik-cli records: import logs into the records, find runs, summarise them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "query.h"

namespace brenvik::cli {

struct RecordsArgs {
  std::string db;  // --db; empty: BRENVIK_DB, else the user's default file
  std::vector<std::string> logs;
  records::Filter filter;
  std::string by;  // summary: hour, day, station, image, result
  bool json = false;
  std::string html;  // report: the file written
};

int RunRecordsImport(const RecordsArgs& args, std::FILE* out, std::FILE* err);
int RunRecordsFind(const RecordsArgs& args, std::FILE* out, std::FILE* err);
int RunRecordsSummary(const RecordsArgs& args, std::FILE* out, std::FILE* err);
int RunRecordsReport(const RecordsArgs& args, std::FILE* out, std::FILE* err);

}  // namespace brenvik::cli
