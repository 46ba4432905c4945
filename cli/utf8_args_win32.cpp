#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <shellapi.h>

#include "utf8_args.h"
#include "win32/text.h"

namespace brenvik::cli {

Utf8Args::Utf8Args(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide) {
    for (int i = 0; i < count; ++i) m_args.push_back(win32::Narrow(wide[i]));
  } else {
    m_args.assign(argv, argv + argc);  // the system gave no wide form: the best there is
  }
  if (wide) ::LocalFree(wide);
  for (const std::string& a : m_args) m_values.push_back(a.c_str());
  m_values.push_back(nullptr);
}

}  // namespace brenvik::cli
