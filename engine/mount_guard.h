// Writes that a mounted image forbids. A mount keeps its WIM file open by
// name and writes back into it when the image is committed: a file that is
// replaced, renamed over or rewritten while one of its images is mounted
// would be corrupted by that commit, or the commit would land in another
// image. So every write that creates, replaces or deletes images of a file
// first asks whether an image of that file is mounted, and refuses.
//
// A file is matched by what it is (volume and file index), so another
// spelling of its path, a hard link or a symbolic link to it is caught as
// well; a file that does not exist (yet) is matched by its full path, since
// a commit reopens the path it was mounted from.
#pragma once
#include <string>
#include <vector>

#include "engine/mounts.h"
#include "engine/operation.h"

// The mount folder of an image of `path` among `records`; empty when none.
std::wstring MountFolderIn(const std::vector<MountRecord>& records, const std::wstring& path);

// The mount folder of an image of `path` mounted now; empty when none is, or
// when the system keeps no list of mounted images.
std::wstring MountFolderOf(const Backends& backends, const std::wstring& path);

// The first of `paths` that has an image mounted now: its mount folder, and
// the file in `which`. Empty when none has.
std::wstring MountFolderOfAny(const Backends& backends, const std::vector<std::wstring>& paths,
                             std::wstring* which = nullptr);

// What the user is told when a page refuses to write `path` because an image
// of it is mounted at `folder`.
std::wstring MountedRefusalText(const std::wstring& path, const std::wstring& folder);

// The engine's own check before a write: true when an image of one of the
// files is mounted. The failure is then noted for the result's reason and
// shown to the operation's host (unless errors are quiet); nothing has been
// written.
bool RefuseMountedWrite(const Backends& backends, const OperationContext& context,
                        const std::vector<std::wstring>& paths);
