#include "app/settings_file.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

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

// The profile calls hold a whole file in memory; a settings file beyond this is not ours to
// rewrite.
constexpr LONGLONG kMaxConvertedFile = 64 << 20;

// The whole file, or nothing when any of it could not be read: a conversion from part of a
// file would lose the rest.
std::optional<std::string> ReadWhole(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart > kMaxConvertedFile) return {};
  std::string bytes(size_t(size.QuadPart), '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file, bytes.data() + have, DWORD(bytes.size() - have), &got, nullptr) || got == 0)
      return {};
    have += got;
  }
  return bytes;
}

// The file as it is now: empty when there is none, nothing when it cannot be read whole
// (too large, unreadable, held by another program).
std::optional<std::string> CurrentContent(const std::wstring& iniPath, bool* exists) {
  HANDLE file = ::CreateFileW(iniPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  *exists = file != INVALID_HANDLE_VALUE;
  if (!*exists) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::string();
    return {};
  }
  std::optional<std::string> bytes = ReadWhole(file);
  ::CloseHandle(file);
  return bytes;
}

std::optional<std::wstring> ToUtf16(std::string_view text) {
  UINT codePage = CP_ACP;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    codePage = CP_UTF8;
    text.remove_prefix(3);
  }
  std::wstring wide(1, wchar_t(0xFEFF));
  if (text.empty()) return wide;
  const int n = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return {};
  wide.resize(1 + size_t(n));
  if (::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data() + 1, n) != n) return {};
  return wide;
}

// The new content goes to a file beside the old one, which takes the old one's place only
// once it is whole: a failure at any point leaves the old file as it was.
bool ReplaceContent(const std::wstring& iniPath, bool exists, const std::wstring& content) {
  const std::wstring fresh = iniPath + L".new";
  // A hidden file stays hidden; a read-only one refuses the move, as it refuses the profile calls.
  const DWORD attributes = exists ? ::GetFileAttributesW(iniPath.c_str()) : FILE_ATTRIBUTE_NORMAL;
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  HANDLE file = ::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              attributes & ~DWORD(FILE_ATTRIBUTE_READONLY), nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const DWORD length = DWORD(content.size() * sizeof(wchar_t));
  bool ok = ::WriteFile(file, content.data(), length, &written, nullptr) && written == length &&
            ::FlushFileBuffers(file);
  ::CloseHandle(file);
  // Not ReplaceFile: Wine's leaves a file of its own behind when the old one is held open.
  ok = ok && ::MoveFileExW(fresh.c_str(), iniPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) ::DeleteFileW(fresh.c_str());
  return ok;
}

// A settings file in UTF-16 with its byte-order mark, so the profile calls keep every
// character. An existing file in the code page (or UTF-8 with its mark) is converted whole,
// or left as it was.
bool MakeUnicode(const std::wstring& iniPath) {
  bool exists = false;
  const std::optional<std::string> bytes = CurrentContent(iniPath, &exists);
  if (!bytes) return false;
  if (bytes->size() >= 2 && uint8_t((*bytes)[0]) == 0xFF && uint8_t((*bytes)[1]) == 0xFE) return true;
  const std::optional<std::wstring> wide = ToUtf16(*bytes);
  if (!wide || !ReplaceContent(iniPath, exists, *wide)) return false;
  // The profile calls may hold the file as it was in the code page.
  ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, iniPath.c_str());
  return true;
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
  // A file that cannot become Unicode keeps what it had, and the path is not saved.
  if (!FitsCodePage(imagePath) && !MakeUnicode(iniPath)) return false;
  return ::WritePrivateProfileStringW(kSection, kKey, imagePath.c_str(), iniPath.c_str()) != FALSE;
}

}  // namespace brenvik::app
