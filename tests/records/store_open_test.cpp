// A database that cannot be used is tried again every few seconds for a whole shift: each
// failed open must give back all it took, or the station runs out of descriptors and no
// longer sees a handset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "store.h"

namespace brenvik::records {
namespace {

namespace fs = std::filesystem;

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

DbUrl Url(const std::string& text) {
  std::string error;
  const auto url = ParseDbUrl(text, error);
  EXPECT_TRUE(url) << text << ": " << error;
  return url.value_or(DbUrl{});
}

class FailedOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("brenvik-open-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    if (::geteuid() != 0 && ::getuid() == 0) {
      ASSERT_EQ(::seteuid(0), 0);
    }
    fs::permissions(m_dir, fs::perms::owner_all);
    fs::remove_all(m_dir);
  }
  fs::path m_dir;
};

TEST_F(FailedOpen, GivesBackEveryDescriptorAndLeavesNoFilesBeside) {
  // A sound database whose pages past the header are garbage: the open succeeds, the first
  // statement fails after the -wal and -shm files were made.
  const fs::path damaged = m_dir / "damaged" / "records.db";
  fs::create_directories(damaged.parent_path());
  OpenStore(Url("sqlite:" + damaged.string()));
  {
    const auto size = fs::file_size(damaged);
    std::fstream f(damaged, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(100);
    f << std::string(size - 100, '\x5a');
  }
  // A sound database in a folder the bench user may only read: no -wal or -shm can be made.
  const fs::path readOnly = m_dir / "read-only" / "records.db";
  fs::create_directories(readOnly.parent_path());
  OpenStore(Url("sqlite:" + readOnly.string()));
  ASSERT_TRUE(fs::exists(readOnly));
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(readOnly.parent_path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(m_dir, fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);

  struct Case {
    const char* name;
    std::string url;
    fs::path folder;      // what must hold only what it held before; empty: none
    bool asBenchUser;     // root reads and writes anything: drop to nobody for the case
  };
  const Case cases[] = {
      {"damaged file", "sqlite:" + damaged.string(), damaged.parent_path(), false},
      {"read-only database", "sqlite:" + readOnly.string(), readOnly.parent_path(), true},
      {"unreachable server", "host=" + (m_dir / "no-server").string() + " dbname=records", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DbUrl url = Url(c.url);
    if (c.asBenchUser && ::getuid() == 0) {
      ASSERT_EQ(::seteuid(65534), 0);
    }
    std::vector<fs::path> before;
    if (!c.folder.empty())
      for (const auto& e : fs::directory_iterator(c.folder)) before.push_back(e.path());
    const size_t descriptors = OpenDescriptors();
    for (int i = 0; i < 50; ++i) EXPECT_THROW(OpenStore(url), StoreError);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    std::vector<fs::path> after;
    if (!c.folder.empty())
      for (const auto& e : fs::directory_iterator(c.folder)) after.push_back(e.path());
    EXPECT_EQ(after, before);
    if (c.asBenchUser && ::getuid() == 0) {
      ASSERT_EQ(::seteuid(0), 0);
    }
  }
}

}  // namespace
}  // namespace brenvik::records
