#include "flash_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "json_text.h"

#ifdef _WIN32
#include <windows.h>

#include "win32/text.h"
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace brenvik::cli {

FlashLog::~FlashLog() {
  if (m_file) std::fclose(m_file);
}

bool FlashLog::Open(const std::string& path, std::string& error) {
#ifdef _WIN32
  m_file = ::_wfopen(win32::Widen(path).c_str(), L"ab");
#else
  m_file = std::fopen(path.c_str(), "ae");
#endif
  if (!m_file) {
    error = "the flash log " + path + " cannot be written: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool FlashLog::Append(const FlashRecord& r) {
  nlohmann::json j{{"time", r.time},
                   {"image", r.image},
                   {"size", r.size},
                   {"sha256", TextOrNull(r.sha256)},
                   {"kind", r.kind},
                   {"device", r.device},
                   {"usb_serial", TextOrNull(r.usbSerial)},
                   {"bytes_sent", r.bytesSent},
                   {"seconds", double(int64_t(r.seconds * 1000 + 0.5)) / 1000},
                   {"result", r.result},
                   {"cause", TextOrNull(r.cause)}};
  const std::string line = JsonLine(j) + "\n";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_file) return false;
#ifndef _WIN32
  // Other processes append to the same log: the lock keeps their lines whole too.
  const int fd = ::fileno(m_file);
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
#endif
  const bool written = std::fwrite(line.data(), 1, line.size(), m_file) == line.size() && std::fflush(m_file) == 0;
#ifndef _WIN32
  ::flock(fd, LOCK_UN);
#endif
  return written;
}

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                int(time.seconds().count()), int(time.subseconds().count()));
  return text;
}

}  // namespace brenvik::cli
