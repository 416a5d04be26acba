// Files a write of this program leaves beside its target while it runs: a
// whole new file written under a temporary name, the staged parts of a
// split. Their names say that they are this program's and whose: the
// process id and the process's start time, "~quarry-<pid>-<start>-...".
// A process that is killed in the middle of a write leaves them behind;
// the next write into the same folder removes those of processes that have
// ended, and never one of a process that still runs.
#pragma once
#include <string>

// "~quarry-<pid>-<start>-": the start of every such name of this process.
std::wstring LeftoverPrefix();

// Removes the files of ended processes in `folder` (a folder path, with or
// without a trailing separator). Files moved aside ("*.old", a file the
// write was replacing) are left, since they may be all that remains of the
// user's file.
void ClearLeftovers(const std::wstring& folder);

// Remembers, in a small list of this process in the user's temporary
// folder, that it writes such files into `folder`: if it is killed, the
// next start knows where to look.
void NoteWriteFolder(const std::wstring& folder);

// At start-up: clears the folders that processes which have ended noted,
// then forgets their lists.
void ClearLeftoversOfEndedRuns();

// The folder part of a path, with its trailing separator ("." for a bare
// name).
std::wstring FolderPart(const std::wstring& path);
