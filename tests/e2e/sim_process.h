// handset-sim as a child process of a test: started with arguments, its pty path read from
// its first line of output, and never left running past the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace brenvik::testing {

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess();  // kills the process if it still runs

  // `ownGroup` starts it as the leader of a new process group, as a shell starts a job.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error,
             bool ownGroup = false);
  // The first line the process printed, or nothing when none came within `bound`.
  std::optional<std::string> FirstLine(std::chrono::milliseconds bound);
  // The exit code, or nothing when the process did not end within `bound` (it is killed then).
  std::optional<int> Wait(std::chrono::milliseconds bound);
  void Signal(int sig);

 private:
  void Kill();

  pid_t pid_ = -1;
  int out_ = -1;  // read end of its standard output
};

}  // namespace brenvik::testing
