#include "utf8_args.h"

namespace brenvik::cli {

// POSIX hands the bytes over as they were given.
Utf8Args::Utf8Args(int argc, char** argv) : m_args(argv, argv + argc) {
  for (const std::string& a : m_args) m_values.push_back(a.c_str());
  m_values.push_back(nullptr);
}

}  // namespace brenvik::cli
