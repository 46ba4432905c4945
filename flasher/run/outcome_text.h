// Outcomes in words: the failure line of brenvik-cli, its JSON names, and the reasons the
// programs give when an image or a device is refused.
#pragma once

#include <cstdint>
#include <string>

#include "download/image_view.h"
#include "download/outcome.h"
#include "link/device_file.h"

namespace brenvik {

// "timed out after 60 s (0 of 16 bytes)", "the wrong bytes came: 30 30 ...".
std::string DescribeLink(const LinkResult& link);
// "block 3's ready packet".
std::string DescribeStep(Step step, uint32_t index);
// "block 3's ready packet: timed out after 60 s (0 of 16 bytes)".
std::string DescribeOutcome(const Outcome& outcome);
// "/dev/null is a character device that is not a terminal, not a handset ...".
std::string DescribeOpen(const OpenResult& open);
// "the image x.img is a FIFO (named pipe), not a file", "... is empty", "cannot map ...";
// empty when it was mapped.
std::string DescribeMapping(const MapResult& mapping, const std::string& path);

// Names for machines (JSON): "ready", "timeout".
const char* StepName(Step step);
const char* CauseName(Cause cause);

}  // namespace brenvik
