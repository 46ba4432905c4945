// What the user is told at the end. Kept as UTF-16 and shown with the wide calls, so the
// Chinese reads right whatever the system's ANSI code page is.
#pragma once

namespace setup {

// "The USB driver was installed."
inline constexpr wchar_t kInstalledText[] = L"成功安装USB驱动程序！";
// "Installation failed; plug in the data cable, then install the USB driver again." One line
// feed between the lines, as the message box breaks them.
inline constexpr wchar_t kFailedText[] = L"安装失败，\n请插入数据线后，再安装USB驱动程序！";

}  // namespace setup
