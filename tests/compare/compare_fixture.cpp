#include "compare_fixture.h"

namespace cmp {

bool MakeNtfsPair(const std::wstring& dir, NtfsPair& out, std::string* why) {
  if (qtest::RunUnix("command -v mkntfs && command -v ntfs-3g && command -v python3 && [ \"$(id -u)\" = 0 ]")
          .exitCode != 0) {
    if (why) *why = "mkntfs, ntfs-3g, python3 or root missing";
    return false;
  }
  out.before = dir + L"\\before.wim";
  out.same = dir + L"\\same.wim";
  out.after = dir + L"\\after.wim";
  const std::string d = qtest::ShQuote(qtest::UnixPath(dir));
  qtest::UnixResult r = qtest::RunUnix(
      "set -e; cd " + d + "; truncate -s 16M a.img; mkntfs -F -Q a.img >/dev/null 2>&1; mkdir -p vm; "
      "ntfs-3g -o permissions a.img vm; "
      "printf one > vm/gone.txt; printf two > vm/attr.txt; printf three > vm/sec.txt; chmod 644 vm/sec.txt; "
      "printf four > vm/times.txt; mkdir vm/d; printf 'moving content' > vm/d/mover.txt; "
      "printf before > vm/d/change.txt; printf same > vm/same.txt; "
      "umount vm; wimlib-imagex capture a.img before.wim >/dev/null; wimlib-imagex capture a.img same.wim >/dev/null; "
      "cp a.img b.img; ntfs-3g -o permissions b.img vm; "
      "printf 'brand new' > vm/new.txt; rm vm/gone.txt; "
      "python3 -c 'import os,struct; p=\"vm/attr.txt\"; n=\"system.ntfs_attrib_be\"; "
      "a=struct.unpack(\">I\", os.getxattr(p,n))[0]; os.setxattr(p,n,struct.pack(\">I\", a | 1))'; "
      "chmod 600 vm/sec.txt; printf 'after!' > vm/d/change.txt; mv vm/d/mover.txt vm/moved.txt; "
      "touch -m -d '2001-02-03 04:05:06' vm/times.txt; "
      "umount vm; wimlib-imagex capture b.img after.wim >/dev/null; rm -f a.img b.img");
  if (r.exitCode != 0 && why) *why = r.output;
  return r.exitCode == 0;
}

std::string RowKey(const std::wstring& path, unsigned kinds) {
  static const char* const names[kDiffKindCount] = {"added", "removed", "content", "attributes",
                                                    "security", "times", "moved"};
  std::string text = qtest::Utf8(path) + "|";
  for (int k = 0; k < kDiffKindCount; k++)
    if (kinds & (1u << k)) text += std::string(names[k]) + " ";
  return text;
}

std::set<std::string> RowKeys(const std::vector<DiffRow>& rows) {
  std::set<std::string> keys;
  for (const DiffRow& row : rows) keys.insert(RowKey(row.path, row.kinds));
  return keys;
}

EngineResult CompareTest::Read(const std::wstring& wim, int image, ImageTree& out, CancelToken* cancel,
                               ProgressTarget* progress) {
  BackendChoice wimlib;
  wimlib.backend = kBackendWimlib;
  OperationContext context;
  context.cancel = cancel;
  context.progress = progress;
  TreeRequest request;
  request.wimPath = wim;
  request.image = image;
  return MakeEngine(app_->backends, wimlib, context)->ReadTree(request, out);
}

ImageTree CompareTest::Read(const std::wstring& wim, int image) {
  ImageTree tree;
  EXPECT_EQ(Read(wim, image, tree), kResultSuccess) << qtest::Utf8(wim);
  return tree;
}

bool CompareTest::NeedNtfsPair(NtfsPair& pair) {
  std::string why;
  if (MakeNtfsPair(dir_, pair, &why)) return true;
  // Without the tools the test is skipped; with them, a failed step fails it.
  if (why.find("missing") == std::string::npos) ADD_FAILURE() << "the NTFS pair could not be made: " << why;
  return false;
}

}  // namespace cmp
