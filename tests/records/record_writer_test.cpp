// The station's writer on real SQLite files: what it does when too many runs wait (also
// while a batch is on its way), how it backs off from a database that refuses, how it
// catches up over rotated and compressed logs, and a database newer than it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "catch_up.h"
#include "record_writer.h"
#include "store.h"

namespace brenvik::records {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string RunId(int n) {
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
  return id;
}

std::string LogLine(int n) {
  return R"({"time":"2026-12-07T14:26:05.195Z","image":"/srv/fw/fw.img","size":4328475,"sha256":")" +
         std::string(64, 'a') +
         R"(","kind":5,"device":"/dev/ttyUSB0","usb_serial":"S)" + std::to_string(n) +
         R"(","bytes_sent":4333640,"seconds":1.0,"average_rate":29084832,"result":"success","cause":null,"run_id":")" +
         RunId(n) + "\"}";
}

DbUrl Url(const std::string& text) {
  std::string error;
  return ParseDbUrl(text, error).value();
}

std::vector<std::string> Ids(const DbUrl& url) {
  std::vector<std::string> ids;
  OpenStore(url, Access::kRead)->Select({{Column::kRunId}, {}}, [&](const Values& v) { ids.push_back(*v[0]); });
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<std::string> IdsOf(int from, int to) {
  std::vector<std::string> ids;
  for (int n = from; n < to; ++n) ids.push_back(RunId(n));
  std::sort(ids.begin(), ids.end());
  return ids;
}

class Writer : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("brenvik-writer-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  void Append(const fs::path& log, int from, int to) {
    std::ofstream f(log, std::ios::app);
    for (int n = from; n < to; ++n) f << LogLine(n) << "\n";
  }
  fs::path m_dir;
};

// Another process holds the write lock: the writer's insert waits for it, on its way.
class WriteLock {
 public:
  explicit WriteLock(const fs::path& db) {
    sqlite3_open(db.c_str(), &m_db);
    EXPECT_EQ(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ~WriteLock() {
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
  }

 private:
  sqlite3* m_db = nullptr;
};

TEST_F(Writer, TooManyWaitingLosesNoRunWhileABatchIsOnItsWay) {
  struct Case {
    const char* name;
    bool withLog;
    int before;     // runs sent (with a log: in it) before the lock; the first batch
    int after;      // runs taken while that batch waits for the lock
    size_t dropped; // given up, and said: only without a log
  };
  const Case cases[] = {
      {"with a log: the runs cleared are read from it again", true, 5, 60, 0},
      {"without a log: the newest are given up and counted", false, 1, 60, 11},
  };
  WriterLimits limits;
  limits.mostWaiting = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path db = m_dir / (std::string(c.withLog ? "log" : "nolog") + ".db");
    const fs::path log = m_dir / (std::string(c.withLog ? "log" : "nolog") + ".log");
    const DbUrl url = Url("sqlite:" + db.string());
    OpenStore(url);  // made and set up: the writer's open only reads
    if (c.withLog) Append(log, 0, c.before);
    size_t dropped = 0;
    {
      auto lock = std::make_unique<WriteLock>(db);
      RecordWriter writer(url, c.withLog ? log.string() : "", limits);
      if (!c.withLog) writer.Take(LogLine(0));
      std::this_thread::sleep_for(300ms);  // the first batch (the log, or run 0) is on its way
      for (int n = c.before; n < c.before + c.after; ++n) {
        if (c.withLog) Append(log, n, n + 1);
        writer.Take(LogLine(n));
      }
      lock.reset();
      EXPECT_TRUE(writer.Finish(20s));
      dropped = writer.Dropped();
    }
    EXPECT_EQ(dropped, c.dropped);
    EXPECT_EQ(Ids(url), IdsOf(0, c.before + c.after - int(c.dropped)));
  }
}

TEST_F(Writer, BacksOffFromADatabaseThatRefusesAndStartsAfreshOnceItIsBack) {
  // A database whose folder is a file: every open fails, until the file gives way.
  const fs::path blocker = m_dir / "not-a-folder";
  std::ofstream(blocker) << "x";
  const DbUrl url = Url("sqlite:" + (blocker / "records.db").string());
  WriterLimits limits;
  limits.firstRetry = 10ms;
  limits.lastRetry = 80ms;
  RecordWriter writer(url, "", limits);
  writer.Take(LogLine(1));
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(1s);
  const size_t failed = writer.FailedAttempts();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(failed, 2u);
  // Doubling from 10 ms to 80 ms, then every 80 ms: never more, however slow the machine.
  EXPECT_LE(failed, size_t(waited / limits.lastRetry) + 5) << failed << " attempts";
  EXPECT_NE(writer.LastError().find("not-a-folder"), std::string::npos) << writer.LastError();
  EXPECT_EQ(writer.Waiting(), 1u);
  fs::remove(blocker);
  writer.Take(LogLine(2));
  EXPECT_TRUE(writer.Finish(10s));
  EXPECT_EQ(writer.FailedAttempts(), 0u);
  EXPECT_EQ(writer.LastError(), "");
  EXPECT_EQ(Ids(url), IdsOf(1, 3));
}

TEST_F(Writer, ADatabaseNewerThanThisProgramIsRefusedAndLeftAsItWas) {
  const fs::path db = m_dir / "newer.db";
  const DbUrl url = Url("sqlite:" + db.string());
  OpenStore(url);
  sqlite3* raw = nullptr;
  sqlite3_open(db.c_str(), &raw);
  ASSERT_EQ(sqlite3_exec(raw, "INSERT INTO schema_version VALUES (99, 'later')", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  for (const Access access : {Access::kWrite, Access::kRead}) {
    try {
      OpenStore(url, access);
      ADD_FAILURE() << "opened";
    } catch (const StoreError& e) {
      EXPECT_NE(std::string(e.what()).find("version 99, newer than this brenvik-cli knows"), std::string::npos)
          << e.what();
    }
  }
  // The station's writer says so, and says the run is not in.
  RecordWriter writer(url, "");
  writer.Take(LogLine(1));
  EXPECT_FALSE(writer.Finish(300ms));
  EXPECT_NE(writer.LastError().find("newer"), std::string::npos) << writer.LastError();
}

TEST_F(Writer, CatchesUpOverTheRotatedLogsAndSaysWhenItCouldNot) {
  // station.log as logrotate leaves it: the new one, .1 plain, .2 and .3 compressed.
  const fs::path log = m_dir / "station.log";
  Append(log, 40, 42);
  Append(m_dir / "station.log.1", 30, 33);
  auto gz = [&](const fs::path& path, int from, int to, bool cut) {
    gzFile f = gzopen(path.c_str(), "wb");
    for (int n = from; n < to; ++n) gzputs(f, (LogLine(n) + "\n").c_str());
    gzclose(f);
    if (cut) fs::resize_file(path, fs::file_size(path) - 10);  // a damaged tail
  };
  gz(m_dir / "station.log.2.gz", 20, 24, true);
  gz(m_dir / "station.log.3.gz", 10, 12, false);
  EXPECT_EQ(RotatedLogs(log), (std::vector<std::string>{log.string() + ".1", log.string() + ".2.gz",
                                                        log.string() + ".3.gz"}));
  const DbUrl url = Url("sqlite:" + (m_dir / "records.db").string());
  // Unreachable first: the end must not claim every run is in.
  {
    RecordWriter refused(Url("sqlite:" + (log / "no.db").string()), log.string());
    EXPECT_FALSE(refused.Finish(300ms));
    EXPECT_FALSE(refused.CaughtUp());
    EXPECT_EQ(refused.Waiting(), 0u);
  }
  {
    RecordWriter writer(url, log.string());
    EXPECT_TRUE(writer.Finish(10s));
  }
  std::vector<std::string> ids = IdsOf(40, 42);
  for (const auto& more : {IdsOf(30, 33), IdsOf(10, 12)}) ids.insert(ids.end(), more.begin(), more.end());
  const auto got = Ids(url);
  for (const std::string& id : ids) EXPECT_TRUE(std::binary_search(got.begin(), got.end(), id)) << id;
  // The damaged file gave what it could: its runs before the damage.
  EXPECT_GE(got.size(), ids.size() + 1);
  // Runs all in: a catch-up reads the newest files and stops at the first that adds nothing.
  Append(log, 42, 43);
  {
    RecordWriter writer(url, log.string());
    EXPECT_TRUE(writer.Finish(10s));
  }
  EXPECT_EQ(Ids(url).size(), got.size() + 1);
}

}  // namespace
}  // namespace brenvik::records
