// A flash log read line by line: a file, a rotated one that logrotate compressed (gzip), or
// standard input, so that `zcat … |` and `station.log.2.gz` read alike.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "store.h"

namespace brenvik::records {

// A log that cannot be used at all (missing, not a file, not readable): nothing was read.
class LogError : public StoreError {
 public:
  using StoreError::StoreError;
};

// A log that fails part way (a damaged or cut gzip stream, a read error): the lines before the
// fault were given, nothing after it can be.
class LogCutShort : public StoreError {
 public:
  using StoreError::StoreError;
};

class LogReader {
 public:
  // Opens `path`; "" (which names no file) is standard input, so that a log named "-" is
  // still a file to a station that reads its own. A gzip stream is known by its first bytes, whatever
  // its name. Throws LogError when it cannot be read at all; a device (a tty, a disk) is
  // refused, since reading it could wait for ever or act on something.
  explicit LogReader(const std::string& path);
  ~LogReader();
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  // The next line without its end of line; false at the end. The view holds until the next
  // call. Throws LogCutShort when the file fails part way (a damaged or cut gzip stream).
  bool Next(std::string_view& line);
  // The number of the line Next last gave, from 1.
  size_t Number() const { return m_number; }
  // Whether that line was longer than kMaxLine: it is then given empty.
  bool TooLong() const { return m_tooLong; }
  // Far more than the longest line of a run, whose every text has its limit.
  static constexpr size_t kMaxLine = 4 << 20;
  // The name the log is told by in messages.
  const std::string& Name() const { return m_name; }

 private:
  bool Fill();

  struct Source;
  std::unique_ptr<Source> m_source;
  std::string m_name;
  std::string m_buffer;
  size_t m_start = 0;  // where the next line begins in m_buffer
  size_t m_number = 0;
  bool m_end = false;
  bool m_tooLong = false;
};

}  // namespace brenvik::records
