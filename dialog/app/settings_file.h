// Brenvik.ini: the last image path, in section "Section1", key "Item1".
#pragma once

#include <functional>
#include <string>

namespace brenvik::app {

// The file's name is appended to the current directory without a separator, as the
// program always did: C:\tools gives C:\toolsBrenvik.ini, C:\ gives C:\Brenvik.ini.
// A path too long for the profile calls is shortened with the short forms of its
// folders (`shortPath` gives them; empty when there is none).
std::wstring SettingsPathFor(const std::wstring& currentDirectory,
                             const std::function<std::wstring(const std::wstring&)>& shortPath);
// The path for the process's current directory, whatever its length.
std::wstring SettingsPath();

// The remembered path, whole whatever its length; empty when the file or key is missing.
// Files written by an ANSI program (in the system's code page) and Unicode ones are read.
std::wstring ReadImagePath(const std::wstring& iniPath);
// Writes the path. The file stays in the system's code page while the path fits it, and
// becomes a Unicode file, every section and key kept, when the path has characters the code
// page lacks. A file that cannot be read whole for that (too large, unreadable, held by
// another program) is left exactly as it was, and the path is not saved: false.
bool WriteImagePath(const std::wstring& iniPath, const std::wstring& imagePath);

}  // namespace brenvik::app
