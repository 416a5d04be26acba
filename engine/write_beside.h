// Writes that replace a file only once they are complete: the new content
// goes into a temporary file beside the target, which takes the target's
// name when the write has succeeded and is deleted otherwise.
//
// A target that is a symbolic link keeps being one: the temporary file goes
// beside the file the link names and is renamed onto that file, never onto
// the link.
#pragma once
#include <string>

#include "engine/engine_host.h"

// The file a write onto `target` must replace: for an existing target, the
// file it finally names once every link on the way is followed; `target`
// itself when it does not exist. Empty, with the reason noted, when
// `target` is a link that names nothing (writing there would replace the
// link).
std::wstring WriteTargetOf(const std::wstring& target);

// A new, empty file beside the file a write onto `target` replaces (see
// WriteTargetOf), under a name of its own, for a write that replaces the
// target only once complete; empty on failure, with the reason noted.
std::wstring TempFileBeside(const std::wstring& target);

// Gives the written `temp` the name of the file a write onto `target`
// replaces when `result` is success (replacing a file there only with
// `replace`), and deletes it otherwise. Returns `result`, or failure when
// the rename fails.
EngineResult PutInPlace(const std::wstring& temp, const std::wstring& target, EngineResult result, bool replace);
