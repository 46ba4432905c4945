// brenvik-cli.exe: no records. Its log is imported on a Linux machine.
#include "records_cli.h"

namespace brenvik::cli {

struct RecordsCli::Commands {};

void AddDbOption(CLI::App&, std::string&) {}

int WithRecords(const std::string&, FlashArgs&, const std::string&, bool, const std::function<int()>& run) {
  return run();
}

RecordsCli::RecordsCli(CLI::App&) {}
RecordsCli::~RecordsCli() = default;

bool RecordsCli::Parsed() const { return false; }

int RecordsCli::Run() { return kExitUsage; }

}  // namespace brenvik::cli
