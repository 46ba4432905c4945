#include "link/bulk_device_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/write_deadline.h"

namespace brenvik {
namespace {

using Clock = std::chrono::steady_clock;

// The longest single transfer: how late a stop request may be seen.
constexpr std::chrono::milliseconds kSlice{100};

// The next transfer's bound: at most a slice, never zero (zero means no bound to libusb).
std::chrono::milliseconds NextSlice(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::min(kSlice, std::max(left, std::chrono::milliseconds(1)));
}

}  // namespace

BulkDeviceFile::BulkDeviceFile(std::unique_ptr<BulkPipe> pipe, size_t readSize)
    : pipe_(std::move(pipe)), buffer_(std::max<size_t>(readSize, 1)) {}

BulkDeviceFile::~BulkDeviceFile() { Close(); }

size_t BulkDeviceFile::TakeBuffered(uint8_t* data, size_t size) {
  const size_t n = std::min(size, end_ - begin_);
  if (n) std::memcpy(data, buffer_.data() + begin_, n);
  begin_ += n;
  return n;
}

IoResult BulkDeviceFile::Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
  if (!pipe_) return {IoStatus::kError, 0, EBADF};
  size_t got = TakeBuffered(data, size);
  const auto deadline = Clock::now() + timeout;
  while (got < size) {
    if (StopRequested()) return {IoStatus::kStopped, got};
    if (Clock::now() >= deadline) return {IoStatus::kTimeout, got};
    // Always whole packets into the buffer: a device that sends more than was asked for
    // would otherwise overflow the transfer and its bytes would be lost.
    const IoResult r = pipe_->In(buffer_.data(), buffer_.size(), NextSlice(deadline));
    begin_ = 0;
    end_ = std::min(r.count, buffer_.size());
    got += TakeBuffered(data + got, size - got);
    if (r.status == IoStatus::kTimeout || (r.status == IoStatus::kOk && r.count == 0)) continue;
    if (r.status != IoStatus::kOk) return {r.status, got, r.systemError};
  }
  return {IoStatus::kOk, got};
}

IoResult BulkDeviceFile::Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
  if (!pipe_) return {IoStatus::kError, 0, EBADF};
  if (StopRequested()) return {IoStatus::kStopped, 0};
  // A tty sends nothing for an empty write; a zero-length packet would be a byte stream's
  // stranger on the wire.
  if (size == 0) return {};
  WriteDeadline deadline(Clock::now() + timeout);
  size_t put = 0;
  while (put < size) {
    if (StopRequested()) deadline.NoteStop();
    if (Clock::now() >= deadline.At()) return {deadline.StopSeen() ? IoStatus::kStopped : IoStatus::kTimeout, put};
    const IoResult r = pipe_->Out(data + put, size - put, NextSlice(deadline.At()));
    put += std::min(r.count, size - put);
    if (r.status == IoStatus::kTimeout) continue;
    if (r.status != IoStatus::kOk) return {r.status, put, r.systemError};
  }
  return {IoStatus::kOk, put};
}

IoResult BulkDeviceFile::Drain(std::chrono::milliseconds) {
  if (!pipe_) return {IoStatus::kError, 0, EBADF};
  return {};
}

void BulkDeviceFile::Close() {
  if (!pipe_) return;
  pipe_->Close();
  pipe_.reset();
}

}  // namespace brenvik
