#include "fakes/view_guard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace brenvik::testing {
namespace {

constexpr size_t kGuardPages = 16;

uint8_t* Reserve(void* at, size_t length, int extraFlags) {
  void* p = ::mmap(at, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | extraFlags, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

}  // namespace

size_t ViewGuard::Page() { return size_t(::sysconf(_SC_PAGESIZE)); }

ViewGuard::ViewGuard(size_t imageSize) {
  const size_t page = Page();
  guardLength_ = kGuardPages * page;
  holeLength_ = (imageSize + page - 1) / page * page;
  // Guard, hole, guard in one piece; then the hole is opened.
  uint8_t* r = Reserve(nullptr, guardLength_ + holeLength_ + guardLength_, 0);
  if (!r) return;
  below_ = r;
  above_ = r + guardLength_ + holeLength_;
  // Any free gap above ours that fits the image but not the whole reservation lies below
  // the mapping base (else ours would be there); it would take the image first.
  StopUpGapsAbove(uintptr_t(above_ + guardLength_), holeLength_, holeLength_ + 2 * guardLength_);
  if (holeLength_) ::munmap(r + guardLength_, holeLength_);
}

void ViewGuard::StopUpGapsAbove(uintptr_t from, size_t least, size_t below) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  uintptr_t lastEnd = 0;
  while (std::getline(maps, line)) {
    const uintptr_t start = std::stoull(line, nullptr, 16);
    const uintptr_t end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
    const size_t gap = lastEnd && start > lastEnd ? start - lastEnd : 0;
    if (lastEnd >= from && gap >= least && gap < below) {
      if (uint8_t* p = Reserve(reinterpret_cast<void*>(lastEnd), gap, MAP_FIXED_NOREPLACE)) {
        if (uintptr_t(p) == lastEnd) stoppers_.push_back({p, gap});
        else ::munmap(p, gap);  // a kernel that does not know the flag put it elsewhere
      }
    }
    lastEnd = end;
  }
}

ViewGuard::~ViewGuard() {
  for (auto [p, length] : stoppers_) ::munmap(p, length);
  if (above_) ::munmap(above_, guardLength_);
  if (below_) ::munmap(below_, guardLength_);
}

bool ViewGuard::Settle(const uint8_t* view, size_t size) {
  const size_t page = Page();
  return below_ && view == below_ + guardLength_ && (size + page - 1) / page * page == holeLength_;
}

}  // namespace brenvik::testing
