// The log's file itself: opened for appending, and one whole line at a time written into it
// under a lock that other processes honour too. A POSIX and a Win32 file implement it.
#pragma once

#include <memory>
#include <string>

namespace brenvik::cli {

class LogFile {
 public:
  virtual ~LogFile() = default;
  // `line` ends in a newline. It starts on a line of its own, and a part of it is never left
  // behind. False, with `error`, when it was not written.
  virtual bool AppendLine(const std::string& line, std::string& error) = 0;
};

// Refuses, with `error` ("the flash log PATH ..."), what is no regular file, the image file
// itself under any of its names, and a file that cannot be written.
std::unique_ptr<LogFile> OpenLogFile(const std::string& path, const std::string& image, std::string& error);

}  // namespace brenvik::cli
