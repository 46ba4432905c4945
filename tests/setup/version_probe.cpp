// Copied under the name setup.exe, it writes the Windows version a program of that name is
// given ("platform major.minor") to version.txt beside itself.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  std::wstring folder(path, n);
  folder.erase(folder.rfind(L'\\') + 1);
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExW(&version)) return 1;
  std::ofstream out(std::filesystem::path(folder + L"version.txt"));
  out << version.dwPlatformId << ' ' << version.dwMajorVersion << '.' << version.dwMinorVersion
      << '\n';
  return 0;
}
