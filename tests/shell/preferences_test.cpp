// The preferences dialog of a real Quarry.exe: the association and the
// Explorer verbs read back from the registry with `reg query`, the 64-bit
// extension registered for real by regsvr32, a foreign association left
// alone, and a temporary folder that does not exist replaced by the
// system's. The 32-bit extension cannot run on this machine: its
// registration is checked by the command line the program builds for it.
#include <gtest/gtest.h>

#include "app/shell_integration.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"

namespace {
using namespace qtest;
using namespace shelltest;

const wchar_t kClsidKey[] = L"HKCR\\CLSID\\{8BAC8316-CC4B-43e3-A7FD-A8178E003869}\\InprocServer32";

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder with a blank in its name: every command must quote it.
    std::wstring base = PrepareQuarryCopy(true);
    folder_ = base + L"\\Quarry Copy";
    ASSERT_TRUE(MakeDirs(folder_ + L"\\wimlib"));
    for (const wchar_t* file : {L"Quarry.exe", L"wimlib\\libwim-15.dll"})
      CopyFileW((base + L"\\" + file).c_str(), (folder_ + L"\\" + file).c_str(), FALSE);
    for (const wchar_t* file : {L"Tessel64.dll", L"Tessel86.dll"})
      CopyFileW((BinDir() + L"\\" + file).c_str(), (folder_ + L"\\" + file).c_str(), FALSE);
    exe_ = folder_ + L"\\Quarry.exe";
    ASSERT_TRUE(quarry_.Start(folder_));
  }
  void TearDown() override {
    quarry_.Close();
    RunWindows(L"reg.exe delete HKCR\\.WIM /f");
  }

  // Opens the preferences (Ctrl+P's command), sets the two boxes as a
  // person's clicks would, and presses OK.
  void SetIntegration(bool associate, bool integrate, const std::wstring& temp = L"") {
    SendCommand(quarry_.MainWindow(), ID_PREFERENCES);
    HWND prefs = WaitForTitle(quarry_.Pid(), L"使用偏好");
    ASSERT_NE(prefs, nullptr);
    auto click = [&](int id) {
      ClickButton(prefs, id);
      Flush(prefs);
    };
    if ((IsDlgButtonChecked(prefs, IDC_PREF_INTEGRATE) == BST_CHECKED) != integrate) click(IDC_PREF_INTEGRATE);
    if ((IsDlgButtonChecked(prefs, IDC_PREF_ASSOCIATE) == BST_CHECKED) != associate) click(IDC_PREF_ASSOCIATE);
    // The coupling: integration ticks the association, no association clears integration.
    if (integrate) EXPECT_EQ(IsDlgButtonChecked(prefs, IDC_PREF_ASSOCIATE), BST_CHECKED);
    if (!associate) EXPECT_EQ(IsDlgButtonChecked(prefs, IDC_PREF_INTEGRATE), BST_UNCHECKED);
    ShotIfAsked("preferences");
    if (!temp.empty()) TypeText(GetDlgItem(prefs, IDC_PREF_TEMP), temp);
    PostMessageW(prefs, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prefs); }, 20000));
  }

  std::string Q(const std::wstring& text) { return Utf8(text); }

  std::wstring folder_;
  std::wstring exe_;
  QuarryProcess quarry_;
};

TEST_F(PreferencesTest, BothBoxesWriteTheAssociationVerbsAndRegisterTheExtension) {
  SetIntegration(true, true);
  const std::string exe = Q(exe_);
  EXPECT_EQ(RegQuery(L"HKCR\\.WIM", L""), "KLO.QUARRY.WIM");
  EXPECT_EQ(RegQuery(L"HKCR\\.ESD", L""), "KLO.QUARRY.ESD");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.WIM\\DefaultIcon", L""), exe + ",-135");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.ESD\\DefaultIcon", L""), exe + ",-187");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.WIM\\shell\\Open\\command", L""), "\"" + exe + "\" \"%1\"");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.ESD\\shell\\Open\\command", L""), "\"" + exe + "\" \"%1\"");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.WIM\\shell\\Open", L"Icon"), exe + ",0");
  const struct {
    const wchar_t* key;
    const char* text;
    const char* sw;
  } verbs[] = {{L"HKCR\\KLO.QUARRY.WIM\\shell\\Apply", "Apply", "/A"},
               {L"HKCR\\KLO.QUARRY.WIM\\shell\\Edit", "Edit", "/E"},
               {L"HKCR\\KLO.QUARRY.WIM\\shell\\Mount", "Mount", "/M"},
               {L"HKCR\\Folder\\shell\\Quarry_Capture", "Capture To ...", "/C"},
               {L"HKCR\\Folder\\shell\\Quarry_QuickCapture", "Quick Capture", "/Q"}};
  for (const auto& verb : verbs) {
    EXPECT_EQ(RegQuery(verb.key, L""), verb.text);
    EXPECT_EQ(RegQuery(std::wstring(verb.key) + L"\\command", L""), "\"" + exe + "\" " + verb.sw + " \"%1\"");
    EXPECT_EQ(RegQuery(verb.key, L"Icon"), exe + ",0");
  }
  // "在 WIM 中打开" starts the program with the bare path: the browser page.
  // (read here, not through reg.exe, whose output loses the Chinese text)
  wchar_t verbText[64] = {};
  DWORD verbBytes = sizeof(verbText);
  EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"KLO.QUARRY.WIM\\shell\\Quarry_Browse", nullptr, RRF_RT_REG_SZ, nullptr,
                         verbText, &verbBytes),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(verbText), L"在 WIM 中打开");
  EXPECT_EQ(RegQuery(L"HKCR\\KLO.QUARRY.WIM\\shell\\Quarry_Browse\\command", L""), "\"" + exe + "\" \"%1\"");
  // The ESD type has no verbs.
  EXPECT_FALSE(RegKeyExists(L"HKCR\\KLO.QUARRY.ESD\\shell\\Apply"));
  // regsvr32 registers the 64-bit extension from beside the program.
  std::string server;
  EXPECT_TRUE(WaitUntil([&] { return (server = RegQuery(kClsidKey, L"")) == Q(folder_ + L"\\Tessel64.dll"); }, 30000))
      << server;
  EXPECT_TRUE(WaitUntil([&] {
    return RegKeyExists(L"HKCR\\KLO.QUARRY.WIM\\shellex\\PropertySheetHandlers\\{8BAC8316-CC4B-43e3-A7FD-A8178E003869}");
  }, 30000));
  EXPECT_EQ(GetPrivateProfileIntW(L"MISC", L"ShellIntegration", -1, (folder_ + L"\\Quarry.ini").c_str()), 1);

  // Both cleared: everything goes again, the extension included.
  SetIntegration(false, false);
  for (const wchar_t* key : {L"HKCR\\.WIM", L"HKCR\\.ESD", L"HKCR\\KLO.QUARRY.WIM", L"HKCR\\KLO.QUARRY.ESD",
                             L"HKCR\\Folder\\shell\\Quarry_Capture", L"HKCR\\Folder\\shell\\Quarry_QuickCapture"})
    EXPECT_FALSE(RegKeyExists(key)) << Q(key);
  EXPECT_TRUE(RegKeyExists(L"HKCR\\Folder"));
  EXPECT_TRUE(WaitUntil([&] { return !RegKeyExists(kClsidKey); }, 30000));
}

TEST_F(PreferencesTest, ClearingTheAssociationLeavesAnotherProgramsAssociationAlone) {
  RunWindows(L"reg.exe add HKCR\\.WIM /ve /d Other.Imaging.File /f");
  SetIntegration(false, false);
  EXPECT_EQ(RegQuery(L"HKCR\\.WIM", L""), "Other.Imaging.File");
}

TEST_F(PreferencesTest, AnotherProgramsDefaultAndOpenWithListSurviveOnThenOff) {
  RunWindows(L"reg.exe add HKCR\\.WIM /ve /d Other.Imaging.File /f");
  RunWindows(L"reg.exe add HKCR\\.WIM\\OpenWithProgids /v Other.Imaging.File /d \"\" /f");
  RunWindows(L"reg.exe add HKCR\\.ESD /v \"Content Type\" /d application/x-other /f");
  SetIntegration(true, false);
  EXPECT_EQ(RegQuery(L"HKCR\\.WIM", L""), "KLO.QUARRY.WIM");
  EXPECT_EQ(RegQuery(L"HKCR\\.ESD", L""), "KLO.QUARRY.ESD");
  // "On" twice must not forget whose default it replaced.
  SetIntegration(true, false);

  SetIntegration(false, false);
  EXPECT_EQ(RegQuery(L"HKCR\\.WIM", L""), "Other.Imaging.File");
  bool found = false;
  RegQuery(L"HKCR\\.WIM\\OpenWithProgids", L"Other.Imaging.File", &found);
  EXPECT_TRUE(found);
  // .ESD had no default of its own: ours goes, the other value stays.
  EXPECT_EQ(RegQuery(L"HKCR\\.ESD", L"Content Type"), "application/x-other");
  EXPECT_NE(RegGetValueW(HKEY_CLASSES_ROOT, L".ESD", nullptr, RRF_RT_ANY, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_FALSE(RegKeyExists(L"HKCR\\KLO.QUARRY.WIM"));
  RunWindows(L"reg.exe delete HKCR\\.ESD /f");
}

TEST_F(PreferencesTest, AMissingTemporaryFolderFallsBackToTheSystemOne) {
  SetIntegration(false, false, L"C:\\no\\such\\folder");
  EXPECT_EQ(quarry_.Close(), 0);
  std::wstring temp = IniText(folder_ + L"\\Quarry.ini", L"DIR", L"Temp");
  while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
  EXPECT_EQ(temp, SystemTemp());
}

TEST(RegistrationCommandTest, EachBuildGetsTheRegistrationToolOfItsOwnWidth) {
  wchar_t system[MAX_PATH] = {}, wow[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(GetSystemWow64DirectoryW(wow, MAX_PATH), 0u);
  RegistrationCommand x64 = RegistrationCommandFor(L"C:\\Program Files\\Q\\Tessel64.dll", true, true, true);
  EXPECT_EQ(x64.tool, std::wstring(system) + L"\\regsvr32.exe");
  EXPECT_EQ(x64.arguments, L"/s \"C:\\Program Files\\Q\\Tessel64.dll\"");
  RegistrationCommand x86 = RegistrationCommandFor(L"C:\\Program Files\\Q\\Tessel86.dll", false, true, true);
  EXPECT_EQ(x86.tool, std::wstring(wow) + L"\\regsvr32.exe");
  EXPECT_EQ(x86.arguments, L"/s \"C:\\Program Files\\Q\\Tessel86.dll\"");
  EXPECT_EQ(RegistrationCommandFor(L"C:\\Q\\Tessel86.dll", false, false, true).arguments,
            L"/u /s \"C:\\Q\\Tessel86.dll\"");
}
}  // namespace
