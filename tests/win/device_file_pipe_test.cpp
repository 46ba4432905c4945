// What is no handset is never written: a named pipe whose server end the test holds, and a
// file, are refused at opening with a reason, and nothing reaches either.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fakes/image_files.h"
#include "link/device_file.h"
#include "run/outcome_text.h"

namespace brenvik {
namespace {

using testing::Bytes;
using testing::PatternBytes;
using testing::TempDir;

Bytes FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(DeviceFileOpen, APipeOrAFileIsRefusedAndNothingReachesIt) {
  TempDir dir;
  const Bytes content = PatternBytes(4096, 7);
  const std::string file = dir.Write("handset.bin", content);
  const std::string pipe = "\\\\.\\pipe\\brenvik-test-" + std::to_string(::GetCurrentProcessId());
  HANDLE server = ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 16,
                                     1 << 16, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  struct Case {
    const std::string& path;
    NodeKind kind;
  } cases[] = {{pipe, NodeKind::kPipe}, {file, NodeKind::kDiskOrFile}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const DeviceOpening opening = OpenDevicePath(c.path);
    EXPECT_EQ(opening.device, nullptr);
    EXPECT_EQ(opening.result.status, OpenStatus::kNotHandset);
    EXPECT_EQ(opening.result.kind, c.kind);
  }
  // The refused client is gone without a byte: the server's read ends at once, empty.
  uint8_t byte = 0;
  DWORD n = 0;
  EXPECT_FALSE(::ReadFile(server, &byte, 1, &n, nullptr));
  EXPECT_EQ(::GetLastError(), DWORD(ERROR_BROKEN_PIPE));
  EXPECT_EQ(n, 0u);
  ::CloseHandle(server);
  EXPECT_EQ(FileBytes(file), content);
}

TEST(DeviceFileOpen, FailureNamesThePathAndTheSystemsReason) {
  const char* paths[] = {"COM250", "C:\\brenvik-no-such-folder\\device", "\\\\.\\pipe\\brenvik-nobody",
                         "\\\\?\\root#brenvik#9999#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    const DeviceOpening opening = OpenDevicePath(path);
    EXPECT_EQ(opening.device, nullptr);
    EXPECT_EQ(opening.result.status, OpenStatus::kCannotOpen);
    const std::string error = DescribeOpen(opening.result);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("(error "), std::string::npos) << error;
    EXPECT_GT(error.size(), std::string(path).size() + 20) << "the system's message is there: " << error;
  }
}

}  // namespace
}  // namespace brenvik
