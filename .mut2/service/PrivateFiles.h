// The service's files are for its own user only: folders 0700, files 0600,
// whatever the umask. What an older service left readable is tightened at
// start.
#pragma once

#include <string>

namespace palvero::service {

inline constexpr unsigned kPrivateFolderMode = 0700;
inline constexpr unsigned kPrivateFileMode = 0600;

// Makes `path` and its missing parents with mode 0700 (existing folders
// keep theirs); true when it made one. Throws std::runtime_error when a
// folder cannot be made.
bool createPrivateDirectories(const std::string& path);
// Sets `path` to 0700 (a folder) or 0600 (a file) when it exists.
void tightenMode(const std::string& path);
// Creates an empty file with mode 0600 unless it exists.
void createPrivateFile(const std::string& path);

}  // namespace palvero::service
