#include "sim_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace brenvik::testing {

using Clock = std::chrono::steady_clock;

SimProcess::~SimProcess() {
  Kill();
  if (out_ >= 0) ::close(out_);
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string& error,
                       bool ownGroup) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + ::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (ownGroup) {
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
  }
  const int rc = ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  out_ = pipeFds[0];
  if (rc != 0) {
    pid_ = -1;
    error = "cannot start " + program + ": " + ::strerror(rc);
    return false;
  }
  return true;
}

std::optional<std::string> SimProcess::FirstLine(std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  std::string line;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char c;
    if (::read(out_, &c, 1) != 1) return std::nullopt;
    if (c == '\n') return line;
    line += c;
  }
}

std::optional<int> SimProcess::Wait(std::chrono::milliseconds bound) {
  if (pid_ < 0) return std::nullopt;
  const auto deadline = Clock::now() + bound;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (r < 0 || Clock::now() >= deadline) {
      Kill();
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void SimProcess::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

void SimProcess::Kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace brenvik::testing
