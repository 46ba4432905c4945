#include "app/image_file_dialog.h"

#include <commdlg.h>

#include <vector>

namespace brenvik::app {
namespace {

// Pairs of description and patterns, each ended by a NUL, the list by a second one.
constexpr wchar_t kFilter[] =
    L"All Support Files(*.bin; *.nb0; *.raw; *.img; *.dio)\0*.bin;*.nb0;*.raw; *.img;*.dio\0"
    L"All Files(*.*)\0*.*\0";
// Room for long paths, not only MAX_PATH.
constexpr DWORD kPathRoom = 32768;

}  // namespace

std::optional<std::wstring> AskImageFile(HWND owner) {
  std::vector<wchar_t> file(kPathRoom, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = kPathRoom;
  ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&ofn)) return std::nullopt;
  return std::wstring(file.data());
}

}  // namespace brenvik::app
