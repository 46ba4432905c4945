#include "app/command_tail.h"

namespace brenvik::app {
namespace {

constexpr std::wstring_view kDeviceOption = L"-device";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

size_t SkipBlanks(const std::wstring& s, size_t at) {
  while (at < s.size() && IsBlank(s[at])) ++at;
  return at;
}

// "C:\a b\fw.img" as Explorer quotes it; a tail with more quotes than one pair is left alone.
std::wstring Unquoted(const std::wstring& s) {
  if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"' &&
      s.find(L'"', 1) == s.size() - 1)
    return s.substr(1, s.size() - 2);
  return s;
}

std::optional<std::wstring> ImageTail(const std::wstring& tail) {
  if (tail.empty() || tail.front() == L'-') return {};
  return Unquoted(tail);
}

// "-device PATH [IMAGE]". A quote left open or an empty path makes the option void: a
// device guessed from half a path could be the wrong one.
StartRequest DeviceOption(const std::wstring& tail) {
  StartRequest request;
  const size_t n = kDeviceOption.size();
  if (tail.compare(0, n, kDeviceOption) != 0 || tail.size() == n || !IsBlank(tail[n])) return request;
  const size_t begin = SkipBlanks(tail, n);
  if (begin == tail.size()) return request;
  size_t end = 0;
  std::wstring device;
  if (tail[begin] == L'"') {
    const size_t close = tail.find(L'"', begin + 1);
    if (close == std::wstring::npos) return request;
    device = tail.substr(begin + 1, close - begin - 1);
    end = close + 1;
  } else {
    end = begin;
    while (end < tail.size() && !IsBlank(tail[end])) ++end;
    device = tail.substr(begin, end - begin);
  }
  if (device.empty()) return request;
  request.devicePath = device;
  request.imagePath = ImageTail(tail.substr(SkipBlanks(tail, end)));
  return request;
}

}  // namespace

StartRequest ParseCommandTail(const std::wstring& tail) {
  if (!tail.empty() && tail.front() == L'-') return DeviceOption(tail);
  StartRequest request;
  request.imagePath = ImageTail(tail);
  return request;
}

}  // namespace brenvik::app
