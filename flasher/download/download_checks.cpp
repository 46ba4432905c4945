#include "download/downloads.h"

namespace brenvik {

Procedure ProcedureFor(int32_t imageKind) {
  switch (imageKind) {
    case KIND_IMG:
    case KIND_RAW: return Procedure::kBootAndRecords;
    case KIND_LARGE_BIN: return Procedure::kRecords;
    default: return Procedure::kBlocks;
  }
}

Outcome LinkFailure(const DownloadContext& ctx, Step step, uint32_t index, const LinkResult& link) {
  if (!ctx.view.Unchanged()) return Outcome{step, index, Cause::kImageChanged, link, {}};
  return Outcome::OfLink(step, index, link);
}

Outcome ImageCheck(const DownloadContext& ctx, Step step, uint32_t index) {
  if (ctx.view.Unchanged()) return Outcome::Success();
  return Outcome{step, index, Cause::kImageChanged, {}, {}};
}

}  // namespace brenvik
