// Guard pages on both sides of the image view, so that a read past either end of the image
// faults at once instead of reading a neighbour's memory. The view is mapped by the code
// under test; the guard leaves a hole of the image's size between two guards and stops up
// every higher gap the image would fit in, so the kernel, which fills free address space
// from the top down, puts the next mapping of that size into the hole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace brenvik::testing {

class ViewGuard {
 public:
  explicit ViewGuard(size_t imageSize);  // before the image is mapped
  ~ViewGuard();
  ViewGuard(const ViewGuard&) = delete;
  ViewGuard& operator=(const ViewGuard&) = delete;

  // After the mapping: true when the view landed in the hole, so both of its ends touch a
  // guard (the image's size should be a whole number of pages for the upper end).
  bool Settle(const uint8_t* view, size_t size);

 private:
  static size_t Page();
  void StopUpGapsAbove(uintptr_t from, size_t least, size_t below);

  uint8_t* above_ = nullptr;
  uint8_t* below_ = nullptr;
  size_t guardLength_ = 0;
  size_t holeLength_ = 0;
  std::vector<std::pair<void*, size_t>> stoppers_;
};

}  // namespace brenvik::testing
