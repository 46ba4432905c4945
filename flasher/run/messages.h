// How the core tells the user something: the shell decides how a message is shown.
#pragma once

#include <string>

namespace brenvik {

// The caption a message carries where it is shown in a box.
enum class MessageCaption {
  kProgram,  // device and result messages: the program's name
  kError,    // the program's own errors: "Error"
  kPost,     // a missing image: "Post"
};

// Texts are UTF-8; shown modally where the shell has windows.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string& text, MessageCaption caption) = 0;
};

// The system's own texts, exactly as the user sees them.
namespace text {
inline constexpr const char* kOpenUsbDeviceFailed = "OpenUsbDevice failed! ";
inline constexpr const char* kCheckUsbCable = "Check Your Usb cable  ";
inline constexpr const char* kWriteFailed = "Error: couldn't write USB data";
inline constexpr const char* kUpgradeError = "升级错误";
inline constexpr const char* kNotCorrectFile = "升级错误,不是一个正确的文件";
inline constexpr const char* kImageNotFound = "打开文件错误,没有找到image";
inline constexpr const char* kUpdateSuccess = "Update Sucess! ";
inline constexpr const char* kUpdateFail = "Update Fail! ";
}  // namespace text

}  // namespace brenvik
