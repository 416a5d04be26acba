// "Save and unmount" of a writable mount served by FUSE: the changes go
// into the file and the image is unmounted, without mounting it again in
// between (a mount made only to be thrown away races the old file
// system's end, and can make a saved mount look as if its unmount failed).
// The kernel's mount table is watched for the whole operation.
#include <gtest/gtest.h>

#include "engine/failure_reason.h"
#include "engine_fixture.h"
#include "gui.h"

using namespace etest;

namespace {

// Watches the mount table of this machine (findmnt --poll) into a log
// from construction until Stop(); the log then holds every mount and
// unmount in between, in order ("mount <target>", "umount <target>").
class MountWatch {
 public:
  explicit MountWatch(const std::wstring& dir) : dir_(dir) {
    log_ = Q(dir + L"\\mounts.log");
    marker_ = Q(dir + L"\\marker");
    qtest::RunUnix("mkdir -p " + marker_);
    qtest::UnixResult r = qtest::RunUnix("findmnt --poll -n -r -o ACTION,TARGET </dev/null >" + log_ +
                                         " 2>/dev/null & echo $!");
    pid_ = r.output.substr(0, r.output.find('\n'));
    // Ready once a mount of the marker shows in the log.
    ready_ = qtest::WaitUntil([&] {
      qtest::RunUnix("mountpoint -q " + marker_ + " || mount -t tmpfs tmpfs " + marker_);
      bool seen = Count("mount", marker_) > 0;
      if (!seen) qtest::RunUnix("umount " + marker_);
      return seen;
    }, 30000);
  }
  ~MountWatch() {
    if (!pid_.empty()) qtest::RunUnix("kill " + pid_);
    qtest::RunUnix("mountpoint -q " + marker_ + " && umount " + marker_);
  }
  bool Ready() const { return ready_; }
  // Ends the watch: once the marker's unmount is in the log, so is
  // everything that happened before it.
  bool Stop() {
    qtest::RunUnix("umount " + marker_);
    return qtest::WaitUntil([&] { return Count("umount", marker_) > 0; }, 30000);
  }
  // Lines of the log "<action> <the real path of quotedFolder>".
  int Count(const std::string& action, const std::string& quotedFolder) const {
    qtest::UnixResult r = qtest::RunUnix("grep -c -x \"" + action + " $(realpath " + quotedFolder + ")\" " + log_);
    return atoi(r.output.c_str());
  }

 private:
  std::wstring dir_;
  std::string log_, marker_, pid_;
  bool ready_ = false;
};

class SaveAndUnmount : public WimgapiEngineTest {
 protected:
  void SetUp() override {
    WimgapiEngineTest::SetUp();
    if (IsSkipped()) return;
    if (qtest::RunUnix("test -c /dev/fuse && command -v wimlib-imagex && command -v findmnt").exitCode != 0)
      GTEST_SKIP() << "skipped: no FUSE or findmnt";
    // The watch marks its start and end with a mount of its own.
    if (qtest::RunUnix("test \"$(id -u)\" = 0").exitCode != 0) GTEST_SKIP() << "skipped: not root";
  }
  void TearDown() override {
    if (!mnt_.empty()) qtest::RunUnix("mountpoint -q " + Q(mnt_) + " && wimlib-imagex unmount " + Q(mnt_));
    WimgapiEngineTest::TearDown();
  }
  std::wstring mnt_;
};

TEST_F(SaveAndUnmount, OnFuseTheChangesAreStoredAndTheImageIsNeverMountedAgain) {
  const std::wstring wim = OracleWim();
  mnt_ = dir_ + L"\\mnt";
  ASSERT_TRUE(qtest::MakeDirs(mnt_));
  MountRequest mount;
  mount.wimPath = wim;
  mount.folder = mnt_;
  mount.writable = true;
  ASSERT_EQ(Make()->Mount(mount), kResultSuccess) << qtest::Utf8(FailureText());
  ASSERT_EQ(qtest::RunUnix("mountpoint -q " + Q(mnt_)).exitCode, 0) << "not served by FUSE";
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\saved.txt", "kept by the save\n"));

  MountWatch watch(dir_);
  ASSERT_TRUE(watch.Ready());
  UnmountRequest request;
  request.mountPath = mnt_;
  request.wimPath = wim;
  request.index = 1;
  request.save = true;
  EXPECT_EQ(Make()->Unmount(request), kResultSuccess) << qtest::Utf8(FailureText());
  ASSERT_TRUE(watch.Stop());

  EXPECT_EQ(watch.Count("umount", Q(mnt_)), 1) << "the file system did not end once";
  EXPECT_EQ(watch.Count("mount", Q(mnt_)), 0) << "the image was mounted again";
  EXPECT_NE(qtest::RunUnix("mountpoint -q " + Q(mnt_)).exitCode, 0) << "still mounted";
  EXPECT_EQ(Imagex("extract " + Q(wim) + " 1 /saved.txt --to-stdout").output, "kept by the save\n");
  EXPECT_TRUE(OracleVerify(wim));
  std::vector<MountRecord> records;
  ASSERT_EQ(Make()->ListMounts(records), kResultSuccess);
  for (const MountRecord& record : records) EXPECT_NE(record.mountPath, mnt_) << "the mount is still listed";
}

}  // namespace
