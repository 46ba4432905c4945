#include "download/downloads.h"

namespace brenvik {

void CountFailure(DownloadContext& ctx, FailedStep step, uint32_t index, FailureCause cause,
                  const std::string& detail) {
  ++ctx.errorCount;
  if (ctx.failure && !ctx.failure->Failed()) *ctx.failure = RunFailure{step, index, cause, detail};
}

void CountLinkFailure(DownloadContext& ctx, FailedStep step, uint32_t index) {
  if (!ctx.view.Unchanged()) {
    CountFailure(ctx, step, index, FailureCause::kImageChanged, "the image file changed during the flash");
    return;
  }
  const LinkFault& fault = ctx.link.LastFault();
  CountFailure(ctx, step, index, fault.status == IoStatus::kStopped ? FailureCause::kStopped : FailureCause::kLink,
               DescribeLinkFault(fault));
}

bool ImageStillSame(DownloadContext& ctx, FailedStep step, uint32_t index) {
  if (ctx.view.Unchanged()) return true;
  CountFailure(ctx, step, index, FailureCause::kImageChanged, "the image file changed during the flash");
  return false;
}

}  // namespace brenvik
