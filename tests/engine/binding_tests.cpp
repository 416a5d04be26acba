// Binding the back ends when the program lives in a folder whose path is
// longer than the old 260-character limit: the program's own path is taken
// whole and wimlib is still found beside it. The test starts a copy of this
// very program in such a folder and lets that copy bind.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/backend.h"
#include "harness.h"

namespace {

const wchar_t kChildVariable[] = L"QUARRY_DEEP_BIND_CHILD";

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool MakeFolders(const std::wstring& base, std::initializer_list<std::wstring> parts, std::wstring& out) {
  out = base;
  for (const std::wstring& part : parts) {
    out += L"\\" + part;
    if (!CreateDirectoryW(out.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

// Runs `exe` with `arguments` through Wine's loader from the Unix side:
// CreateProcess refuses a program path that long. The exit code, or -1.
int RunProgram(const std::wstring& exe, const std::string& arguments, std::string& output) {
  qtest::UnixResult r = qtest::RunUnix("\"${WINELOADER:-wine}\" " + qtest::ShQuote(qtest::UnixPath(exe)) + " " +
                                       arguments, 120000);
  output = r.output;
  return r.exitCode;
}

TEST(BackendBinding, ProgramInAFolderPathOver260Characters) {
  const std::wstring self = ModuleFilePath(nullptr);
  ASSERT_FALSE(self.empty());
  if (GetEnvironmentVariableW(kChildVariable, nullptr, 0) > 0) {
    // The copy: its path is the long one, and wimlib binds from beside it.
    EXPECT_GT(self.size(), 300u);
    EXPECT_EQ(GetFileAttributesW(self.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << "the whole path names the file";
    Backends backends;
    BindBackends(backends);
    EXPECT_TRUE(backends.WimlibAvailable());
    return;
  }

  const std::wstring library = FolderOf(self) + L"\\wimlib\\libwim-15.dll";
  if (GetFileAttributesW(library.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no wimlib beside the tests";
  std::wstring deep;
  ASSERT_TRUE(MakeFolders(qtest::TempDir(), {std::wstring(100, L'a'), std::wstring(100, L'b'), std::wstring(100, L'c')},
                          deep));
  ASSERT_GT(deep.size(), 300u);
  const std::wstring copy = deep + L"\\engine_tests.exe";
  ASSERT_TRUE(CopyFileW(self.c_str(), copy.c_str(), FALSE));
  ASSERT_TRUE(CreateDirectoryW((deep + L"\\wimlib").c_str(), nullptr));
  ASSERT_TRUE(CopyFileW(library.c_str(), (deep + L"\\wimlib\\libwim-15.dll").c_str(), FALSE));

  SetEnvironmentVariableW(kChildVariable, L"1");
  std::string output;
  int code = RunProgram(copy, "--gtest_filter=BackendBinding.ProgramInAFolderPathOver260Characters", output);
  SetEnvironmentVariableW(kChildVariable, nullptr);
  EXPECT_EQ(code, 0) << "the copy in the long folder could not bind wimlib:\n" << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
