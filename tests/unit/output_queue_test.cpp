#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "output_queue.h"

namespace brenvik::cli {
namespace {

bool IsProgress(std::string_view line) { return line.rfind("progress", 0) == 0; }

std::string ReadAll(int fd) {
  std::string all;
  char buffer[4096];
  for (long got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, size_t(got));
  return all;
}

// Into a pipe of one page that nobody reads while the lines come: none of the writes waits,
// and what is dropped is progress only.
TEST(OutputQueue, KeepsEveryOtherLineWhileTheReaderPauses) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
  auto queue = OutputQueue::Start(fds[1], 2048, IsProgress);
  ASSERT_TRUE(queue);
  std::string results;
  for (int i = 0; i < 3000; ++i) {
    std::fprintf(queue->File(), "progress %d of a run whose reader is away for a while\n", i);
    if (i % 100 == 0) {
      std::fprintf(queue->File(), "result %d\n", i);
      results += "result " + std::to_string(i) + "\n";
    }
    std::fflush(queue->File());
  }
  std::string read;
  std::thread reader([&] { read = ReadAll(fds[0]); });
  queue->Finish(std::chrono::seconds(10));
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);

  std::string kept, progress;
  size_t lines = 0;
  for (size_t at = 0, nl; (nl = read.find('\n', at)) != std::string::npos; at = nl + 1, ++lines) {
    const std::string line = read.substr(at, nl + 1 - at);
    (IsProgress(line) ? progress : kept) += line;
  }
  EXPECT_EQ(kept, results);
  EXPECT_EQ(read.back(), '\n');
  EXPECT_LT(lines, 3000u);
  EXPECT_EQ(progress.rfind("progress 0 ", 0), 0u);  // the first ones wait; later ones go
}

// A bell is no line: it goes out as it comes, not when the next line does.
TEST(OutputQueue, ABellGoesOutAtOnce) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  auto queue = OutputQueue::Start(fds[1], 1 << 20, {});
  ASSERT_TRUE(queue);
  std::fputc('\a', queue->File());
  std::fflush(queue->File());
  pollfd ready{fds[0], POLLIN, 0};
  ASSERT_EQ(::poll(&ready, 1, 10000), 1);
  char got = 0;
  EXPECT_EQ(::read(fds[0], &got, 1), 1);
  EXPECT_EQ(got, '\a');
  queue->Finish(std::chrono::seconds(10));
  ::close(fds[0]);
  ::close(fds[1]);
}

// The end of the process: a reader that takes nothing, or one that closed its end, does
// not hold it.
TEST(OutputQueue, GivesUpOnAReaderThatTakesNothing) {
  std::signal(SIGPIPE, SIG_IGN);
  for (bool closed : {false, true}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    if (closed) ::close(fds[0]);
    auto queue = OutputQueue::Start(fds[1], 1 << 20, {});
    ASSERT_TRUE(queue);
    for (int i = 0; i < 1000; ++i) std::fprintf(queue->File(), "result %d of a reader that never comes\n", i);
    queue->Finish(std::chrono::milliseconds(300));
    if (!closed) ::close(fds[0]);  // first: a writer still waiting gives up, and writes no more
    ::close(fds[1]);
  }
}

}  // namespace
}  // namespace brenvik::cli
#endif
