#include <nlohmann/json.hpp>

#include "commands.h"
#include "download/image_view.h"
#include "download/sha256.h"
#include "inspection.h"
#include "json_text.h"
#include "link/protocol.h"
#include "run/outcome_text.h"
#include "link/wire.h"

namespace brenvik::cli {
namespace {

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

nlohmann::json ToJson(const Inspection& in) {
  nlohmann::json j{{"path", in.path},           {"size", in.size},
                   {"sha256", TextOrNull(in.sha256)},
                   {"sectors", in.sectorCount}, {"kind", in.kind},
                   {"kind_reason", in.kindReason}, {"procedure", ProcedureText(in)},
                   {"problems", in.problems},   {"ok", in.problems.empty()}};
  if (in.procedure == Procedure::kBlocks) j["blocks"] = in.blocks;
  if (in.hasBootArea) j["boot_area"] = BOOT_AREA_SIZE;
  if (in.header) {
    j["stream"] = {{"offset", *in.streamOffset},
                   {"sync", SyncText(*in.header)},
                   {"sync_ok", in.header->SyncValid()},
                   {"image_start", in.header->imageStart},
                   {"image_length", in.header->imageLength}};
  }
  if (in.streamOffset) {
    nlohmann::json records = nlohmann::json::array();
    for (const auto& r : in.records)
      records.push_back({{"offset", r.offset}, {"address", r.address}, {"length", r.length},
                         {"checksum", r.checksum}, {"sum", r.sum}, {"checksum_ok", r.ChecksumOk()}});
    j["records"] = std::move(records);
    j["entry_point"] = in.entryPoint ? nlohmann::json(*in.entryPoint) : nlohmann::json(nullptr);
  }
  return j;
}

void PrintText(const Inspection& in, std::FILE* out) {
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
  if (in.streamOffset) {
    std::fprintf(out, "records:    %zu\n", in.records.size());
    if (!in.records.empty())
      std::fprintf(out, "  %6s  %-10s  %-10s  %10s  %-10s  %s\n", "#", "offset", "address", "length",
                   "checksum", "");
    for (size_t i = 0; i < in.records.size(); ++i) {
      const auto& r = in.records[i];
      std::fprintf(out, "  %6zu  %s  %s  %10u  %s  %s\n", i, Hex(r.offset).c_str(), Hex(r.address).c_str(),
                   r.length, Hex(r.checksum).c_str(), r.ChecksumOk() ? "ok" : "WRONG");
    }
    if (in.entryPoint) std::fprintf(out, "end record: entry point %s\n", Hex(*in.entryPoint).c_str());
  }
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
  if (!mapped.Opened()) {
    std::fprintf(stderr, "brenvik-cli: %s\n", DescribeMapping(mapped, args.image).c_str());
    return kExitUsage;
  }
  Inspection in = InspectImage(args.image, view.Data(), mapped.size);
  in.sha256 = ImageSha256(view);
  if (!in.sha256) in.problems.push_back("the file could not be read whole (it changed or was cut short)");
  if (args.json)
    std::fprintf(out, "%s\n", ToJson(in).dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  else
    PrintText(in, out);
  return in.problems.empty() ? kExitOk : kExitRunFailed;
}

}  // namespace brenvik::cli
