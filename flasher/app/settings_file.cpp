#include "app/settings_file.h"

#include <windows.h>

#include <string_view>
#include <vector>

namespace brenvik::app {
namespace {

constexpr wchar_t kFileName[] = L"Brenvik.ini";
constexpr wchar_t kSection[] = L"Section1";
constexpr wchar_t kKey[] = L"Item1";
// The profile calls take no longer paths.
constexpr size_t kMaxProfilePath = MAX_PATH - 1;
// Values are capped by the profile calls themselves near 32 K characters.
constexpr DWORD kMaxValue = 1 << 16;

bool FitsCodePage(const std::wstring& text) {
  if (text.empty()) return true;
  BOOL lossy = FALSE;
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()),
                                      nullptr, 0, nullptr, &lossy);
  return n > 0 && !lossy;
}

std::vector<char> ReadAll(HANDLE file) {
  std::vector<char> bytes;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) return bytes;
  bytes.resize(size_t(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && !::ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr)) got = 0;
  bytes.resize(got);
  return bytes;
}

// A settings file in UTF-16 with its byte-order mark, so the profile calls keep every
// character. An existing file in the code page (or UTF-8 with its mark) is converted.
bool MakeUnicode(const std::wstring& iniPath) {
  HANDLE file = ::CreateFileW(iniPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::vector<char> bytes = ReadAll(file);
  std::string_view text(bytes.data(), bytes.size());
  if (text.size() >= 2 && uint8_t(text[0]) == 0xFF && uint8_t(text[1]) == 0xFE) {
    ::CloseHandle(file);
    return true;
  }
  UINT codePage = CP_ACP;
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
    codePage = CP_UTF8;
    text.remove_prefix(3);
  }
  std::wstring wide(1, wchar_t(0xFEFF));
  if (!text.empty()) {
    const int n = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    wide.resize(1 + size_t(n > 0 ? n : 0));
    if (n > 0) ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data() + 1, n);
  }
  DWORD written = 0;
  const DWORD length = DWORD(wide.size() * sizeof(wchar_t));
  const bool ok = ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
                  ::WriteFile(file, wide.data(), length, &written, nullptr) && written == length &&
                  ::SetEndOfFile(file);
  ::CloseHandle(file);
  return ok;
}

std::wstring ShortPathOf(const std::wstring& path) {
  const DWORD n = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring out(n, L'\0');
  const DWORD got = ::GetShortPathNameW(path.c_str(), out.data(), n);
  if (got == 0 || got >= n) return {};
  out.resize(got);
  return out;
}

}  // namespace

std::wstring SettingsPathFor(const std::wstring& currentDirectory,
                             const std::function<std::wstring(const std::wstring&)>& shortPath) {
  const std::wstring whole = currentDirectory + kFileName;
  if (whole.size() <= kMaxProfilePath) return whole;
  // The same file with its folders in their short forms: the last part of the directory is
  // part of the file's name, so only the folders above it can be shortened.
  const size_t slash = currentDirectory.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 0) {
    const std::wstring parent = currentDirectory.substr(0, slash);
    const std::wstring shortParent = shortPath(parent.back() == L':' ? parent + L'\\' : parent);
    if (!shortParent.empty()) {
      std::wstring path = shortParent;
      if (path.back() != L'\\') path += L'\\';
      path += currentDirectory.substr(slash + 1) + kFileName;
      if (path.size() <= kMaxProfilePath) return path;
    }
  }
  // Still too long: a file of a shorter name beside it, found again at every start.
  const std::wstring shortDirectory = shortPath(currentDirectory);
  if (!shortDirectory.empty() && shortDirectory.size() + std::size(kFileName) - 1 <= kMaxProfilePath)
    return shortDirectory + kFileName;
  return whole;
}

std::wstring SettingsPath() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring directory(n, L'\0');
  const DWORD got = n ? ::GetCurrentDirectoryW(n, directory.data()) : 0;
  directory.resize(got < n ? got : 0);
  return SettingsPathFor(directory, ShortPathOf);
}

std::wstring ReadImagePath(const std::wstring& iniPath) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD got = ::GetPrivateProfileStringW(kSection, kKey, L"", value.data(), DWORD(value.size()),
                                                 iniPath.c_str());
    // A value that filled the buffer may have been cut: read again with more room.
    if (got + 1 < value.size() || value.size() >= kMaxValue) {
      value.resize(got);
      return value;
    }
    value.assign(value.size() * 2, L'\0');
  }
}

bool WriteImagePath(const std::wstring& iniPath, const std::wstring& imagePath) {
  if (iniPath.empty()) return false;
  if (!FitsCodePage(imagePath)) MakeUnicode(iniPath);
  return ::WritePrivateProfileStringW(kSection, kKey, imagePath.c_str(), iniPath.c_str()) != FALSE;
}

}  // namespace brenvik::app
