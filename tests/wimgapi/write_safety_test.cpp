// wimgapi.dll: a write that fails after the file was opened for replacing
// leaves the file that was there byte for byte as it was.
#include <gtest/gtest.h>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiWriteSafety : public OneImageWimTest {
 protected:
  void SetUp() override {
    OneImageWimTest::SetUp();
    before_ = qtest::ReadFileBytes(wim_);
  }
  std::string before_;
};

TEST_F(WimgapiWriteSafety, ATemporaryFolderThatIsGoneLeavesTheFileToReplaceAsItWas) {
  // The temporary folder the program was given is removed while it runs.
  std::wstring temp = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(temp));
  ASSERT_TRUE(RemoveDirectoryW(temp.c_str()));
  for (DWORD disposition : {WIM_CREATE_ALWAYS, WIM_OPEN_ALWAYS}) {
    SCOPED_TRACE(disposition);
    {
      Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, disposition);
      SetLastError(0);
      EXPECT_FALSE(W().SetTemporaryPath(file.get(), temp.c_str()));
      EXPECT_NE(GetLastError(), 0u);
    }
    EXPECT_TRUE(qtest::ReadFileBytes(wim_) == before_) << "the file to replace was changed";
    EXPECT_EQ(ImageCount(wim_), 1);
  }
  Imagex("verify " + Q(wim_));
  // A created file with a usable temporary folder is still made by the close.
  std::wstring fresh = dir_ + L"\\fresh.wim";
  {
    Handle file = Open(fresh, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS);
    EXPECT_TRUE(W().SetTemporaryPath(file.get(), dir_.c_str()));
  }
  EXPECT_TRUE(Exists(fresh));
  EXPECT_EQ(ImageCount(fresh), 0);
}

}  // namespace
