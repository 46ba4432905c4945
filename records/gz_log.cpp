#include "gz_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace brenvik::records {
namespace {

constexpr size_t kRowsPerBatch = 20000;

struct GzClose {
  void operator()(gzFile f) const { gzclose(f); }
};

}  // namespace

void ImportGzLog(Store& store, const std::string& path, ImportCounts& counts) {
  // Only a regular file is read: a FIFO or a device could block or act on something.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw LogError("the log " + path + " cannot be read: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw LogError("the log " + path + " is not a file");
  }
  std::unique_ptr<gzFile_s, GzClose> file(gzdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    throw LogError("the log " + path + " cannot be read: out of memory");
  }
  std::vector<Row> batch;
  auto flush = [&] {
    if (batch.empty()) return;
    const size_t added = store.Insert(batch);
    counts.added += added;
    counts.already += batch.size() - added;
    batch.clear();
  };
  std::string line, why;
  size_t number = 0;
  char chunk[64 * 1024];
  auto take = [&] {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    if (auto row = ParseLogLine(line, why)) {
      batch.push_back(std::move(*row));
      if (batch.size() == kRowsPerBatch) flush();
    } else {
      ++counts.malformed;
      counts.bad.push_back({path, number, why});
    }
  };
  // gzgets gives a long line in pieces: a line ends only at its newline.
  while (gzgets(file.get(), chunk, sizeof chunk)) {
    const size_t n = std::strlen(chunk);
    const bool ends = n && chunk[n - 1] == '\n';
    line.append(chunk, ends ? n - 1 : n);
    if (!ends) continue;
    take();
    line.clear();
  }
  int code = Z_OK;
  const char* message = gzerror(file.get(), &code);
  if (code != Z_OK && code != Z_STREAM_END) {
    ++counts.malformed;
    counts.bad.push_back({path, number + 1, std::string("the compressed data is damaged: ") + message});
  } else if (!line.empty()) {
    take();  // the last line, without its newline
  }
  flush();
}

}  // namespace brenvik::records
