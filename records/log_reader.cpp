#include "log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

namespace brenvik::records {
namespace {

constexpr size_t kChunk = 1 << 18;

// zlib's message without the "<fd:N>: " it puts first.
std::string ZlibWhy(const char* why) {
  std::string text = why ? why : "";
  if (text.starts_with("<fd:")) {
    const size_t colon = text.find(": ");
    if (colon != std::string::npos) text.erase(0, colon + 2);
  }
  return text;
}

}  // namespace

// zlib reads a plain file as it is and a gzip one (several members too) uncompressed.
struct LogReader::Source {
  gzFile file = nullptr;
  ~Source() {
    if (file) gzclose_r(file);
  }
};

LogReader::LogReader(const std::string& path) : m_source(std::make_unique<Source>()), m_name(path) {
  const bool standardInput = path.empty();
  if (standardInput) m_name = "standard input";
  const int fd = standardInput ? ::fcntl(0, F_DUPFD_CLOEXEC, 3)
                               : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw LogError("the log " + m_name + " cannot be read: " + std::strerror(errno));
  struct stat st {};
  // A file or a pipe (`zcat … | … /dev/stdin`); a FIFO that no one writes into ends at once.
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
    ::close(fd);
    throw LogError("the log " + m_name + " is not a file");
  }
  if (!standardInput) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  m_source->file = gzdopen(fd, "rb");
  if (!m_source->file) {
    ::close(fd);
    throw LogError("the log " + m_name + " cannot be read: out of memory");
  }
  gzbuffer(m_source->file, kChunk);
  // A directory opens and fails at its first read: it is no log, said before anything is read.
  m_buffer.reserve(kChunk);
  Fill();
}

LogReader::~LogReader() = default;

// Reads one more chunk after what is left of the buffer; false at the end.
bool LogReader::Fill() {
  if (m_end) return false;
  m_buffer.erase(0, m_start);
  m_start = 0;
  const size_t had = m_buffer.size();
  m_buffer.resize(had + kChunk);
  const int n = gzread(m_source->file, m_buffer.data() + had, unsigned(kChunk));
  if (n < 0) {
    m_buffer.resize(had);
    int code = 0;
    const char* why = gzerror(m_source->file, &code);
    if (code == Z_ERRNO && m_number == 0 && had == 0)
      throw LogError("the log " + m_name + " cannot be read: " + std::strerror(errno));
    throw LogCutShort("the log " + m_name + " could not be read to its end: " + (code == Z_ERRNO ? std::strerror(errno) : ZlibWhy(why)));
  }
  m_buffer.resize(had + size_t(n));
  if (n == 0) {
    m_end = true;
    int code = 0;
    const char* why = gzerror(m_source->file, &code);
    // A gzip stream cut short ends without its trailer.
    if (code != Z_OK && code != Z_STREAM_END)
      throw LogCutShort("the log " + m_name + " could not be read to its end: " + ZlibWhy(why));
    return false;
  }
  return true;
}

bool LogReader::Next(std::string_view& line) {
  m_tooLong = false;
  size_t scanned = m_start;  // no end of line before it
  for (;;) {
    const size_t newline = m_buffer.find('\n', scanned);
    if (newline != std::string::npos) {
      if (newline - m_start > kMaxLine) m_tooLong = true;
      line = m_tooLong ? std::string_view() : std::string_view(m_buffer).substr(m_start, newline - m_start);
      m_start = newline + 1;
      ++m_number;
      return true;
    }
    // Longer than any run's line: what was read of it goes, and the rest is passed over up
    // to its end, so that a file with no end of line never fills the memory.
    if (m_buffer.size() - m_start > kMaxLine) {
      m_tooLong = true;
      m_buffer.resize(m_start);
    }
    scanned = m_buffer.size() - m_start;  // as it stands after Fill moves the line to the front
    if (!Fill()) {
      if (m_start == m_buffer.size() && !m_tooLong) return false;
      if (m_buffer.size() - m_start > kMaxLine) m_tooLong = true;
      line = m_tooLong ? std::string_view() : std::string_view(m_buffer).substr(m_start);  // a last line without its end
      m_start = m_buffer.size();
      ++m_number;
      return true;
    }
  }
}

}  // namespace brenvik::records
