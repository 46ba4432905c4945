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

Outcome ImageCheck(const DownloadContext& ctx, Step step, uint32_t index) {
  if (ctx.view.Unchanged()) return Outcome::Success();
  return Outcome{step, index, Cause::kImageChanged, {}, {}};
}

Outcome LinkFailure(const DownloadContext& ctx, Step step, uint32_t index, const LinkResult& link) {
  Outcome changed = ImageCheck(ctx, step, index);
  if (changed.Ok()) return Outcome::OfLink(step, index, link);
  changed.link = link;
  return changed;
}

}  // namespace brenvik
