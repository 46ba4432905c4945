#include "app/command_tail.h"

namespace brenvik::app {
namespace {

constexpr wchar_t kDeviceOption[] = L"-device";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// "C:\a b\fw.img" as Explorer quotes it; a tail with more quotes than one pair is left alone.
std::wstring Unquoted(const std::wstring& s) {
  if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"' &&
      s.find(L'"', 1) == s.size() - 1)
    return s.substr(1, s.size() - 2);
  return s;
}

std::optional<std::wstring> DeviceOption(const std::wstring& tail) {
  const size_t n = std::char_traits<wchar_t>::length(kDeviceOption);
  if (tail.compare(0, n, kDeviceOption) != 0 || tail.size() == n || !IsBlank(tail[n])) return {};
  size_t begin = n;
  while (begin < tail.size() && IsBlank(tail[begin])) ++begin;
  size_t end = tail.size();
  while (end > begin && IsBlank(tail[end - 1])) --end;
  std::wstring path = Unquoted(tail.substr(begin, end - begin));
  if (path.empty()) return {};
  return path;
}

}  // namespace

StartRequest ParseCommandTail(const std::wstring& tail) {
  StartRequest request;
  if (tail.empty()) return request;
  if (tail.front() == L'-') {
    request.devicePath = DeviceOption(tail);
    return request;
  }
  request.imagePath = Unquoted(tail);
  return request;
}

}  // namespace brenvik::app
