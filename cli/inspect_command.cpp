#include <nlohmann/json.hpp>

#include "commands.h"
#include "download/image_view.h"
#include "download/sha256.h"
#include "inspection.h"
#include "text/json_text.h"
#include "link/protocol.h"
#include "run/outcome_text.h"
#include "link/wire.h"

namespace brenvik::cli {

using text::TextOrNull;

namespace {

constexpr const char* kChanged = "the file changed while it was inspected";

std::string Hex(uint64_t v, int width = 8) { return HexText(v, width); }

std::string SyncText(const BinStreamHeader& h) {
  std::string s;
  for (uint8_t c : h.sync) {
    if (c == '\n') s += "\\n";
    else if (c >= 0x20 && c < 0x7F) s += char(c);
    else s += "\\x" + Hex(c, 2).substr(2);
  }
  return s;
}

std::string Dump(const nlohmann::json& j) {
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// `j` pretty-printed as a value `depth` levels into the document.
std::string Nested(const nlohmann::json& j, int depth) {
  std::string text = Dump(j), out;
  const std::string indent(size_t(depth) * 2, ' ');
  for (char c : text) {  // a dumped string never holds a raw line break
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

// Everything known before the records, in the order the whole object would print it.
nlohmann::json Head(const Inspection& in) {
  nlohmann::json j{{"path", in.path},           {"size", in.size},
                   {"sha256", TextOrNull(in.sha256)},
                   {"sectors", in.sectorCount}, {"kind", in.kind},
                   {"kind_reason", in.kindReason}, {"procedure", ProcedureText(in)}};
  if (in.procedure == Procedure::kBlocks) j["blocks"] = in.blocks;
  if (in.hasBootArea) j["boot_area"] = BOOT_AREA_SIZE;
  if (in.header) {
    j["stream"] = {{"offset", *in.streamOffset},
                   {"sync", SyncText(*in.header)},
                   {"sync_ok", in.header->SyncValid()},
                   {"image_start", in.header->imageStart},
                   {"image_length", in.header->imageLength}};
  }
  return j;
}

nlohmann::json RecordJson(const InspectedRecord& r) {
  return {{"offset", r.offset}, {"address", r.address}, {"length", r.length},
          {"checksum", r.checksum}, {"sum", r.sum}, {"checksum_ok", r.ChecksumOk()}};
}

// One JSON document written as the records are walked: the head, each record, then what
// only the walk tells (problems, end record), so memory stays flat in the number of records.
void StreamJson(Inspection& in, const ReadAtFunction& read, const std::function<void()>& settle, std::FILE* out) {
  std::string head = Dump(Head(in));
  head.resize(head.size() - 2);  // the closing "\n}"
  std::fputs(head.c_str(), out);
  if (in.streamOffset) {
    std::fputs(",\n  \"records\": [", out);
    WalkRecords(in, read, [&in, out](const InspectedRecord& r) {
      std::fprintf(out, "%s    %s", in.recordCount == 1 ? "\n" : ",\n", Nested(RecordJson(r), 2).c_str());
    });
    std::fputs(in.recordCount ? "\n  ]" : "]", out);
    std::fprintf(out, ",\n  \"entry_point\": %s",
                 Dump(in.entryPoint ? nlohmann::json(*in.entryPoint) : nlohmann::json(nullptr)).c_str());
  }
  settle();
  std::fprintf(out, ",\n  \"ok\": %s,\n  \"problems\": %s\n}\n", in.problems.empty() ? "true" : "false",
               Nested(in.problems, 1).c_str());
}

void PrintHead(const Inspection& in, std::FILE* out) {
  std::fprintf(out, "image:      %s\n", in.path.c_str());
  std::fprintf(out, "size:       %u bytes (%u sectors)\n", in.size, in.sectorCount);
  if (in.sha256) std::fprintf(out, "sha256:     %s\n", in.sha256->c_str());
  std::fprintf(out, "kind:       %d (%s)\n", in.kind, in.kindReason.c_str());
  std::fprintf(out, "download:   %s", ProcedureText(in).c_str());
  if (in.procedure == Procedure::kBlocks) std::fprintf(out, ", %u block(s) of up to 262144 bytes", in.blocks);
  std::fprintf(out, "\n");
  if (in.hasBootArea) std::fprintf(out, "boot area:  %u bytes at 0\n", unsigned(BOOT_AREA_SIZE));
  if (in.header) {
    std::fprintf(out, "stream:     at %s, sync \"%s\"%s, image start %s, image length %s\n",
                 Hex(*in.streamOffset).c_str(), SyncText(*in.header).c_str(),
                 in.header->SyncValid() ? "" : " (not B000FF)", Hex(in.header->imageStart).c_str(),
                 Hex(in.header->imageLength).c_str());
  }
}

// The table needs the count first: one walk counts, a second prints the rows. A file that
// changes between them is a problem, not a quiet mismatch.
void PrintText(Inspection& in, const ReadAtFunction& read, const std::function<void()>& settle, std::FILE* out) {
  PrintHead(in, out);
  if (in.streamOffset) {
    Inspection counted = in;
    WalkRecords(counted, read, nullptr);
    std::fprintf(out, "records:    %llu\n", static_cast<unsigned long long>(counted.recordCount));
    if (counted.recordCount != 0)
      std::fprintf(out, "  %6s  %-10s  %-10s  %10s  %-10s  %s\n", "#", "offset", "address", "length",
                   "checksum", "");
    WalkRecords(in, read, [&in, out](const InspectedRecord& r) {
      std::fprintf(out, "  %6llu  %s  %s  %10u  %s  %s\n", static_cast<unsigned long long>(in.recordCount - 1),
                   Hex(r.offset).c_str(), Hex(r.address).c_str(), r.length, Hex(r.checksum).c_str(),
                   r.ChecksumOk() ? "ok" : "WRONG");
    });
    if (in.recordCount != counted.recordCount || in.problems != counted.problems)
      in.problems.push_back(kChanged);
    if (in.entryPoint) std::fprintf(out, "end record: entry point %s\n", Hex(*in.entryPoint).c_str());
  }
  settle();
  if (in.problems.empty()) {
    std::fprintf(out, "problems:   none\n");
  } else {
    std::fprintf(out, "problems:\n");
    for (const auto& p : in.problems) std::fprintf(out, "  - %s\n", p.c_str());
  }
}

}  // namespace

int RunInspect(const InspectArgs& args, std::FILE* out) {
  ImageView view;
  const MapResult mapped = MapImageFile(view, args.image);
  // Opened but not mapped, though not empty (a file of /sys, say): no image to look at.
  if (!mapped.Opened() || (mapped.size == 0 && mapped.fileSize != 0)) {
    std::fprintf(stderr, "brenvik-cli: %s\n", DescribeMapping(mapped, args.image).c_str());
    return kExitUsage;
  }
  // Read from the file, not the mapping: a file cut short under us is a problem, not SIGBUS.
  const ReadAtFunction read = [&view](uint64_t at, uint8_t* to, size_t n) { return view.ReadAt(at, to, n); };
  Inspection in = InspectLayout(args.image, read, mapped.size);
  in.sha256 = ImageSha256(view);
  // What the walk cannot tell: the hash failed, or the file changed after it was hashed.
  auto settle = [&in, &view] {
    if (!in.sha256) in.problems.push_back("the file could not be read whole (it changed or was cut short)");
    else if (!view.Unchanged() && (in.problems.empty() || in.problems.back() != kChanged))
      in.problems.push_back(kChanged);
  };
  if (args.json)
    StreamJson(in, read, settle, out);
  else
    PrintText(in, read, settle, out);
  return in.problems.empty() ? kExitOk : kExitRunFailed;
}

}  // namespace brenvik::cli
