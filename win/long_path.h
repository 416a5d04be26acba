// Paths of any length for the file-system calls. The manifest declares the
// program long-path aware, but Windows honours that only where the system
// has long paths switched on; the "\\?\" form works everywhere.
#pragma once
#include <string>

// The form of `path` that a file-system call (CreateFileW, FindFirstFileW,
// GetFileAttributesW, MoveFileExW, ...) takes at any length: a path of
// MAX_PATH characters or more becomes a full path with the "\\?\" prefix
// ("\\?\UNC\server\share\..." for a share). Shorter paths, paths that
// already have a prefix and paths that cannot be made full come back as
// they are. Not for the shell's calls, which do not take the prefix.
std::wstring LongPathForm(const std::wstring& path);
