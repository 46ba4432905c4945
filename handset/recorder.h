// What one session received: passes the payload on to the output files and the reference
// check, keeps the list of records, and hands the replies to whoever sends them.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "expected_image.h"
#include "output_files.h"
#include "session.h"

namespace brenvik::handset {

// Records listed one by one; beyond this many they are only counted.
inline constexpr size_t kRecordListCap = 100000;

struct RecordEntry {
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t sum = 0;
  std::optional<RecordVerdict> verdict;  // only with a reference image
};

class SessionRecorder : public SessionSink {
 public:
  using ReplyFn = std::function<void(const Reply&)>;
  // `files` and `expected` may be null.
  SessionRecorder(ReplyFn reply, OutputFiles* files, ExpectedImage* expected, size_t listCap = kRecordListCap);

  void OnReply(const Reply& reply) override { reply_(reply); }
  void OnProcedure(Transfer p, std::optional<int32_t> kind) override;
  void OnUnitBegin(const DataUnit& unit) override;
  void OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size) override;
  void OnUnitEnd(const DataUnit& unit) override;
  // At the end of the session: closes the files and settles the reference check.
  void Finish();

  const std::vector<RecordEntry>& RecordList() const { return list_; }
  bool ListTruncated() const { return truncated_; }

 private:
  ReplyFn reply_;
  OutputFiles* files_;
  ExpectedImage* expected_;
  size_t cap_;
  std::vector<RecordEntry> list_;
  bool truncated_ = false;
};

}  // namespace brenvik::handset
