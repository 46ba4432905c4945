// The records' part of brenvik-cli's command line: --db for flash and station, and the
// records command with import, find and summary. brenvik-cli.exe has no records: there
// records_cli_none.cpp adds nothing and runs a flash as it is.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"

namespace brenvik::cli {

void AddDbOption(CLI::App& command, std::string& db);

// Runs `run` with its runs written into the database named by --db or BRENVIK_DB, if any; at
// its end waits a little for them and says how many still wait (they are in the log).
// `catchUpLog`: a log whose runs also go in. `tellAlways`: say it also when none waits (the
// station's summary).
int WithRecords(const std::string& db, FlashArgs& flash, const std::string& catchUpLog, bool tellAlways,
                const std::function<int()>& run);

class RecordsCli {
 public:
  explicit RecordsCli(CLI::App& app);
  ~RecordsCli();
  bool Parsed() const;
  int Run();

 private:
  struct Commands;
  std::unique_ptr<Commands> m_commands;  // none where the records are not built
};

}  // namespace brenvik::cli
