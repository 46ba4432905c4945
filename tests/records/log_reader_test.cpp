// The log's lines as the import reads them, plain and compressed: every line once, whole or
// named too long wherever the reads fall, and a compressed file cut short told as such.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "log_reader.h"

namespace brenvik::records {
namespace {

std::string TempPath() {
  return (std::filesystem::temp_directory_path() / ("log-reader-" + std::to_string(::getpid()) + ".log")).string();
}

void Write(const std::string& path, const std::string& data, bool gzip) {
  if (gzip) {
    // Two members, as a log compressed in two goes is: read as one.
    gzFile f = gzopen(path.c_str(), "wb");
    gzwrite(f, data.data(), unsigned(data.size() / 2));
    gzclose(f);
    f = gzopen(path.c_str(), "ab");
    gzwrite(f, data.data() + data.size() / 2, unsigned(data.size() - data.size() / 2));
    gzclose(f);
  } else {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
}

TEST(LogReader, GivesEveryLineOnceWhereverTheReadsFall) {
  const size_t max = LogReader::kMaxLine;
  const std::vector<std::vector<size_t>> files = {
      {0, 10, 0},                               // empty lines are lines
      {max, 3, max + 1, 5},                     // at the limit, and one past it
      {max - 1, max + 300000, 1, 2 * max + 7},  // past it by more than a read
      {1 << 19, 1 << 18, 7},
  };
  const std::string path = TempPath();
  for (const bool gzip : {false, true})
    for (const auto& lengths : files)
      for (const bool lastEnds : {true, false}) {
        std::string data;
        for (size_t i = 0; i < lengths.size(); ++i) {
          data += std::string(lengths[i], char('a' + i));
          if (i + 1 < lengths.size() || lastEnds) data += '\n';
        }
        Write(path, data, gzip);
        LogReader log(path);
        std::string_view line;
        size_t i = 0;
        while (log.Next(line)) {
          SCOPED_TRACE(testing::Message() << "gzip " << gzip << " line " << i << " of " << lengths[i]);
          ASSERT_LT(i, lengths.size());
          EXPECT_EQ(log.Number(), i + 1);
          EXPECT_EQ(log.TooLong(), lengths[i] > max);
          if (lengths[i] <= max) {
            EXPECT_EQ(line, std::string(lengths[i], char('a' + i)));
          }
          ++i;
        }
        // A last empty line without its end is no line.
        EXPECT_EQ(i, lengths.size() - (!lastEnds && lengths.back() == 0 ? 1 : 0));
      }
  std::filesystem::remove(path);
}

TEST(LogReader, ACompressedLogCutShortFailsAfterItsLines) {
  const std::string path = TempPath();
  std::string data;
  for (int i = 0; i < 20000; ++i) data += "line " + std::to_string(i) + "\n";
  Write(path, data, true);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  LogReader log(path);
  std::string_view line;
  size_t lines = 0;
  try {
    while (log.Next(line)) ++lines;
    ADD_FAILURE() << "the cut was not seen";
  } catch (const LogError&) {
    ADD_FAILURE() << "a log that was read in part is no log that cannot be read";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find("could not be read to its end: unexpected end of file"), std::string::npos);
  }
  EXPECT_GT(lines, 0u);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace brenvik::records
