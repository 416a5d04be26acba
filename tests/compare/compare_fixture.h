// Shared ground of the comparison tests: the main window made inside the
// test program (the look-inside fixture), trees read through the program's
// own wimlib engine, and pairs of real images made to differ in known ways.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../look_inside/look_fixture.h"
#include "engine/engine.h"
#include "engine/image_diff.h"

namespace cmp {

// The images of one NTFS volume before and after known changes: `same` is a
// second capture of the volume `before` was captured from.
struct NtfsPair {
  std::wstring before;
  std::wstring same;
  std::wstring after;
};

// Builds the pair in `dir` (root only: ntfs-3g mounts the volume). Changes
// from before to after: \new.txt added, \gone.txt removed, \d\change.txt
// rewritten, \d\mover.txt moved to \moved.txt, \attr.txt made read-only,
// \sec.txt given other permissions (its security descriptor), and the
// last-write time of \times.txt set back. \same.txt is never touched.
bool MakeNtfsPair(const std::wstring& dir, NtfsPair& out, std::string* why = nullptr);

// "path|kinds" of every row, in order, for a readable failure message.
std::set<std::string> RowKeys(const std::vector<DiffRow>& rows);
std::string RowKey(const std::wstring& path, unsigned kinds);

class CompareTest : public FrameTest {
 protected:
  // One image's tree through the program's wimlib engine, with `cancel`
  // and `progress` as the operation's own.
  EngineResult Read(const std::wstring& wim, int image, ImageTree& out, CancelToken* cancel = nullptr,
                    ProgressTarget* progress = nullptr);
  ImageTree Read(const std::wstring& wim, int image = 1);
  // Skips the test when the NTFS tools or root are missing.
  bool NeedNtfsPair(NtfsPair& pair);

  std::wstring dir_ = qtest::TempDir();
};

}  // namespace cmp
