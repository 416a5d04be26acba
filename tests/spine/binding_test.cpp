// Binding of the two back ends: which libraries are found, which entries
// are bound, and where the process's current directory ends up.
#include <gtest/gtest.h>

#include "engine/backend.h"
#include "harness.h"

namespace {

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

int BoundCount(const void* table, int count) {
  auto* slots = static_cast<const void* const*>(table);
  int bound = 0;
  for (int i = 0; i < count; ++i) bound += slots[i] != nullptr;
  return bound;
}

class BindingTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentDirectoryW(qtest::BinDir().c_str()); }
};

TEST_F(BindingTest, BothLibrariesBindEveryEntry) {
  Backends b;
  BindBackends(b);
  ASSERT_TRUE(b.WimgapiAvailable()) << "the prefix's wimgapi.dll should be found by the standard search order";
  ASSERT_TRUE(b.WimlibAvailable()) << "wimlib\\libwim-15.dll beside the program should be found";
  EXPECT_EQ(BoundCount(&b.wimgapi, kWimgapiCount), kWimgapiCount);
  EXPECT_EQ(BoundCount(&b.wimlib, kWimlibCount), kWimlibCount);
  // The misspelt export is bound under its own name.
  EXPECT_EQ(reinterpret_cast<FARPROC>(b.wimlib.set_image_descripton),
            GetProcAddress(b.wimlibModule, "wimlib_set_image_descripton"));
  // The wimlib folder stays the current directory.
  EXPECT_EQ(_wcsicmp(CurrentDirectory().c_str(), (qtest::BinDir() + L"\\wimlib").c_str()), 0);
}

TEST_F(BindingTest, NeitherLibraryLeavesBothTablesEmpty) {
  Backends b;
  BindOptions options;
  options.wimgapiName = L"no-such-wimgapi.dll";
  options.wimlibName = L"no-such-libwim.dll";
  BindBackends(b, options);
  EXPECT_FALSE(b.WimgapiAvailable());
  EXPECT_FALSE(b.WimlibAvailable());
  EXPECT_EQ(BoundCount(&b.wimgapi, kWimgapiCount), 0);
  EXPECT_EQ(BoundCount(&b.wimlib, kWimlibCount), 0);
  EXPECT_EQ(b.wimgapiModule, nullptr);
  EXPECT_EQ(b.wimlibModule, nullptr);
}

TEST_F(BindingTest, WimlibAloneWhenWimgapiIsMissing) {
  Backends b;
  BindOptions options;
  options.wimgapiName = L"no-such-wimgapi.dll";
  BindBackends(b, options);
  EXPECT_FALSE(b.WimgapiAvailable());
  EXPECT_TRUE(b.WimlibAvailable());
  EXPECT_EQ(BoundCount(&b.wimlib, kWimlibCount), kWimlibCount);
}

TEST_F(BindingTest, ProgramWithoutWimlibFolderHasNoWimlib) {
  // A program path whose folder holds no "wimlib" sub-folder.
  if (GetModuleHandleW(L"libwim-15.dll")) GTEST_SKIP() << "the bridge is already loaded in this process";
  std::wstring dir = qtest::TempDir();
  Backends b;
  BindOptions options;
  options.programPath = dir + L"\\Quarry.exe";
  BindBackends(b, options);
  EXPECT_FALSE(b.WimlibAvailable());
  EXPECT_TRUE(b.WimgapiAvailable());
}

TEST_F(BindingTest, OlderWimgapiWithoutMountImageHandle) {
  Backends b;
  BindOptions options;
  options.wimgapiName = qtest::BinDir() + L"\\old_wimgapi.dll";
  BindBackends(b, options);
  EXPECT_TRUE(b.WimgapiAvailable());
  EXPECT_EQ(b.wimgapi.MountImageHandle, nullptr);
  EXPECT_NE(b.wimgapi.MountImage, nullptr);
  EXPECT_EQ(BoundCount(&b.wimgapi, kWimgapiCount), kWimgapiCount - 1);
}

}  // namespace
