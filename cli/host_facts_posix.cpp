#include "host_facts.h"

#include <sys/random.h>
#include <unistd.h>

#include "station/station.h"

namespace brenvik::cli {

bool SystemRandomBytes(std::array<uint8_t, 16>& bytes) {
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n <= 0) break;
    got += size_t(n);
  }
  return got == bytes.size();
}

uint64_t ProcessId() { return uint64_t(::getpid()); }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

const char* AccessDeniedHint() { return station::text::kPermissionHint; }

}  // namespace brenvik::cli
