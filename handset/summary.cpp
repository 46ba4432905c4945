#include "summary.h"

#include <cstdio>
#include <sstream>

#include "exclusive_file.h"

namespace brenvik::handset {
namespace {

using nlohmann::json;

json FaultsJson(const FaultPlan& plan, const FaultLog& log) {
  json faults = json::array();
  if (plan.noAck) faults.push_back({{"fault", "no-ack"}, {"injected", log.ackWithheld}});
  if (plan.wrongReadyBlock)
    faults.push_back({{"fault", "wrong-ready"}, {"block", *plan.wrongReadyBlock}, {"injected", log.wrongReadySent}});
  if (plan.silentFromBlock) {
    json f = {{"fault", "silent-from"}, {"block", *plan.silentFromBlock}, {"injected", log.silentAtBlock.has_value()}};
    faults.push_back(f);
  }
  if (plan.dropAfterBytes)
    faults.push_back({{"fault", "drop-after"}, {"bytes", *plan.dropAfterBytes}, {"injected", log.dropped}});
  return faults;
}

json RecordJson(const RecordEntry& r) {
  json e = {{"address", r.address}, {"length", r.length}, {"sum", r.sum}};
  if (r.verdict) {
    e["checksum_ok"] = r.verdict->checksumOk;
    e["matches"] = r.verdict->matches;
  }
  return e;
}

// One field a line, one record a line.
void WriteJson(std::ostream& out, const json& fields, const std::vector<RecordEntry>& records) {
  out << "{\n";
  for (const auto& [key, value] : fields.items()) out << "  " << json(key).dump() << ": " << value.dump() << ",\n";
  out << "  \"record_list\": [";
  for (size_t i = 0; i < records.size(); ++i) out << (i ? ",\n    " : "\n    ") << RecordJson(records[i]).dump();
  out << (records.empty() ? "]" : "\n  ]") << "\n}\n";
}

std::string Count(uint64_t n, const char* thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

json SummaryJson(const SessionReport& report) {
  const SessionStats& s = report.session.Stats();
  json j;
  j["session"] = report.number;
  j["kind"] = s.kind ? json(*s.kind) : json(nullptr);
  j["auto_upgrade"] = report.autoUpgrade;
  j["procedure"] = TransferName(s.procedure);
  j["blocks"] = s.blocks;
  j["records"] = s.records;
  j["boot"] = s.boot;
  j["commands"] = {{"transfer_end", s.transferEnds}, {"download_end", s.downloadEnds}};
  j["bytes"] = {{"total_data", s.DataBytes()},
                {"boot", s.bootBytes},
                {"records", s.recordBytes},
                {"blocks", s.blockBytes},
                {"received", s.received}};
  j["complete"] = report.session.Complete();
  j["protocol_errors"] = report.session.Errors();
  j["faults"] = FaultsJson(report.plan, report.log);
  j["record_list_truncated"] = report.recorder.ListTruncated();
  if (report.expected) {
    j["matches_expected"] = report.expected->Matches(report.session.Complete());
    if (!report.expected->Difference().empty()) j["expected_difference"] = report.expected->Difference();
    j["expected_differences"] = report.expected->Differences();
    j["expected_differences_unlisted"] = report.expected->Unlisted();
  }
  if (!report.outputError.empty()) j["output_error"] = report.outputError;
  if (!report.note.empty()) j["note"] = report.note;
  return j;
}

std::string HumanSummary(const SessionReport& report) {
  const SessionStats& s = report.session.Stats();
  std::ostringstream out;
  out << "handset-sim: session " << report.number << ": kind ";
  if (s.kind) out << *s.kind; else out << "not sent";
  out << ", " << TransferName(s.procedure);
  if (s.procedure == Transfer::kBlocks) out << ": " << Count(s.blocks, "block");
  if (s.procedure == Transfer::kRecords)
    out << ": " << (s.boot ? "boot area, " : "") << Count(s.records, "record") << ", "
        << Count(s.transferEnds, "transfer end") << ", " << Count(s.downloadEnds, "download end");
  out << "; " << s.DataBytes() << " data bytes of " << s.received << " received; "
      << (report.session.Complete() ? "complete" : "NOT complete");
  for (const std::string& e : report.session.Errors()) out << "\n  protocol error: " << e;
  if (report.log.ackWithheld) out << "\n  fault: acknowledgement withheld";
  if (report.log.wrongReadySent) out << "\n  fault: wrong ready packet sent";
  if (report.log.silentAtBlock) out << "\n  fault: silent from block " << *report.log.silentAtBlock;
  if (report.log.dropped) out << "\n  fault: link dropped";
  if (report.expected) {
    out << "\n  matches the reference: " << (report.expected->Matches(report.session.Complete()) ? "yes" : "no");
    for (const std::string& d : report.expected->Differences()) out << "\n    " << d;
    if (report.expected->Unlisted()) out << "\n    ... and " << report.expected->Unlisted() << " more";
  }
  if (!report.outputError.empty()) out << "\n  output error: " << report.outputError;
  if (!report.note.empty()) out << "\n  note: " << report.note;
  return out.str();
}

bool WriteSummary(const std::string& path, const SessionReport& report, std::string& error) {
  return WriteWhole(path, [&report](std::ostream& out) { WriteJson(out, SummaryJson(report), report.recorder.RecordList()); },
                    error);
}

}  // namespace brenvik::handset
