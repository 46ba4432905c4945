// The program's arguments as UTF-8. On Windows the narrow argv has passed through the ANSI
// code page, which turns what it cannot hold into look-alikes or '?' ("fwā.img" becomes
// "fwa.img", another file): there the wide command line is read instead.
#pragma once

#include <string>
#include <vector>

namespace brenvik::cli {

class Utf8Args {
 public:
  Utf8Args(int argc, char** argv);
  Utf8Args(const Utf8Args&) = delete;
  Utf8Args& operator=(const Utf8Args&) = delete;

  int Count() const { return int(m_args.size()); }
  const char* const* Values() const { return m_values.data(); }

 private:
  std::vector<std::string> m_args;
  std::vector<const char*> m_values;  // into m_args, ended by a null as argv is
};

}  // namespace brenvik::cli
