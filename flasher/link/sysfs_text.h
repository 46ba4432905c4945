// Reading sysfs as text a user may be shown: attributes read without waiting or following
// links, and nothing with control characters from a tree someone laid out.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brenvik::sysfs {

// True when `s` holds no C0 control character and no DEL: text that may be shown as it is.
bool HasNoControlCharacters(const std::string& s);
// An attribute's text; nothing when it is unreadable, too long or no regular file.
std::optional<std::string> ReadAttribute(const std::filesystem::path& file);
// The first line of an attribute, or empty when it is unreadable or not plain text.
std::string ReadLine(const std::filesystem::path& file);
// An attribute's whole value (the kernel's one trailing newline dropped), or empty when it
// is unreadable; for values a device chose, such as its serial, which are shown escaped.
std::string ReadValue(const std::filesystem::path& file);
// The last part of a link's target ("ipaq" for a driver link), or empty.
std::string LinkName(const std::filesystem::path& link);
// A value of the KEY=value lines of a uevent file.
std::string UeventValue(const std::filesystem::path& uevent, const std::string& key);
// The tree to read: `given`, else $SYSFS_PATH, else /sys.
std::filesystem::path Root(const std::string& given);
// True when `p` lies inside `root` (both canonical).
bool Inside(const std::filesystem::path& root, const std::filesystem::path& p);

}  // namespace brenvik::sysfs
