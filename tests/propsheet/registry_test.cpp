// DllRegisterServer and DllUnregisterServer against the Wine prefix's
// registry, and the script reader behind them.
#include <windows.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "registrar.h"
#include "tessel_test_util.h"

using tesseltest::Dll;

namespace {

const wchar_t kClsidKey[] = L"CLSID\\{8BAC8316-CC4B-43e3-A7FD-A8178E003869}";
const wchar_t kHandlers[] = L"KLO.QUARRY.WIM\\shellex\\PropertySheetHandlers";
const wchar_t kHandlerKey[] = L"KLO.QUARRY.WIM\\shellex\\PropertySheetHandlers\\{8BAC8316-CC4B-43e3-A7FD-A8178E003869}";
const wchar_t kApproved[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kClsidName[] = L"{8BAC8316-CC4B-43e3-A7FD-A8178E003869}";
const wchar_t kTypeLibKey[] = L"TypeLib\\{D17EB3AC-EDF6-4D1E-819A-9FAAEAF9F2C4}";
const wchar_t kInterfaceKey[] = L"Interface\\{F13553D6-FDDE-4263-BE91-4E6C007D27C6}";

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A string value, or "<missing>".
std::wstring Value(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t buf[1024];
  DWORD size = sizeof buf;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return buf;
}

void ExpectRegistered(const std::wstring& modulePath) {
  std::wstring clsid = kClsidKey;
  EXPECT_EQ(L"Quarry ShellPropSheet", Value(HKEY_CLASSES_ROOT, clsid));
  EXPECT_EQ(L"QUARRY.SHELL.1", Value(HKEY_CLASSES_ROOT, clsid + L"\\ProgID"));
  EXPECT_EQ(L"QUARRY.SHELL", Value(HKEY_CLASSES_ROOT, clsid + L"\\VersionIndependentProgID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsid + L"\\Programmable"));
  EXPECT_EQ(modulePath, Value(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32"));
  EXPECT_EQ(L"Apartment", Value(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(L"{D17EB3AC-EDF6-4D1E-819A-9FAAEAF9F2C4}", Value(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
  EXPECT_EQ(L"Quarry Shell Extension", Value(HKEY_LOCAL_MACHINE, kApproved, kClsidName));
  // The type library and its dual interface.
  EXPECT_EQ(L"Quarry ShellPropSheet", Value(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));
  EXPECT_EQ(modulePath, Value(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\0\\win64"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
}

void ExpectUnregistered() {
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
  EXPECT_EQ(L"<missing>", Value(HKEY_LOCAL_MACHINE, kApproved, kClsidName));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApproved));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
}

bool CreateKey(HKEY root, const std::wstring& path) {
  HKEY key;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

// One test case on purpose: the prefix's registry is shared by every test
// process, so the steps must not run side by side.
TEST(propsheetRegistry, RegisterAndUnregisterInThePrefix) {
  // Leaves the prefix as found, also when a step fails half-way.
  struct Restore {
    bool hadFileType = KeyExists(HKEY_CLASSES_ROOT, L"KLO.QUARRY.WIM");
    ~Restore() {
      Dll().unregisterServer();
      if (!hadFileType) RegDeleteTreeW(HKEY_CLASSES_ROOT, L"KLO.QUARRY.WIM");
    }
  } restore;
  std::wstring clsid = kClsidKey;
  std::wstring other = std::wstring(kHandlers) + L"\\{00000000-1111-2222-3333-444444444444}";

  {
    SCOPED_TRACE("register; a stale subkey of the class key goes, as the key is replaced whole");
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, clsid + L"\\Stale"));
    ASSERT_EQ(S_OK, Dll().registerServer());
    ExpectRegistered(Dll().Path());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid + L"\\Stale"));
    EXPECT_EQ(S_OK, Dll().registerServer()) << "registering twice is harmless";
    ExpectRegistered(Dll().Path());
  }
  {
    SCOPED_TRACE("unregister keeps the file type's keys and another extension's handler");
    ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, other));
    EXPECT_EQ(S_OK, Dll().unregisterServer());
    ExpectUnregistered();
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kHandlers));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, other));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, other.c_str());
    EXPECT_EQ(S_OK, Dll().unregisterServer()) << "nothing left to remove is no failure";
  }
  {
    SCOPED_TRACE("without the Approved key: E_ACCESSDENIED and no script run");
    // HKLM of this process is pointed at an empty key for the call.
    HKEY empty;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuarryTest\\EmptyMachine", 0,
                                             nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &empty, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, empty));
    HRESULT hr = Dll().registerServer();
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(empty);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuarryTest");
    EXPECT_EQ(E_ACCESSDENIED, hr);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
  }
  {
    SCOPED_TRACE("a module path with a quote and a percent sign is written exactly");
    std::wstring dir = qtest::TempDir() + L"\\it's 100%MODULE%";
    ASSERT_TRUE(qtest::MakeDirs(dir));
    std::wstring copy = dir + L"\\Tessel64.dll";
    ASSERT_TRUE(CopyFileW(Dll().Path().c_str(), copy.c_str(), FALSE));
    tesseltest::TesselDll second;
    ASSERT_TRUE(second.Load(copy));
    ASSERT_NE(Dll().module, second.module);
    EXPECT_EQ(S_OK, second.registerServer());
    ExpectRegistered(copy);
    EXPECT_EQ(S_OK, second.unregisterServer());
    ExpectUnregistered();
    FreeLibrary(second.module);
  }
}

TEST(propsheetScript, SyntaxErrorsAreRefused) {
  std::vector<tessel::RegScriptRoot> roots;
  EXPECT_FALSE(tessel::ParseRegistryScript(L"HKXX { A }", &roots)) << "unknown root";
  EXPECT_FALSE(tessel::ParseRegistryScript(L"HKCR { A = s 'open }", &roots)) << "open quote";
  EXPECT_FALSE(tessel::ParseRegistryScript(L"HKCR { A { B }", &roots)) << "missing brace";
  EXPECT_FALSE(tessel::ParseRegistryScript(L"HKCR { A = q 'x' }", &roots)) << "unknown type";
  EXPECT_FALSE(tessel::ParseRegistryScript(L"HKCR { val X = s 'y' }", &roots)) << "value outside a key";
  EXPECT_EQ(E_UNEXPECTED, tessel::RunRegistryScript(L"HKCR { A {", {}, true));

  roots.clear();
  ASSERT_TRUE(tessel::ParseRegistryScript(
      L"HKCU { NoRemove 'Software' { ForceRemove 'It''s' = s 'a ''b''' { val N = d '0x10' Sub } } }", &roots));
  ASSERT_EQ(1u, roots.size());
  const tessel::RegScriptKey& sw = roots[0].keys.at(0);
  EXPECT_EQ(tessel::RegScriptKey::kNoRemove, sw.mode);
  const tessel::RegScriptKey& k = sw.subkeys.at(0);
  EXPECT_EQ(L"It's", k.name);
  EXPECT_EQ(tessel::RegScriptKey::kForceRemove, k.mode);
  EXPECT_EQ(L"a 'b'", k.defaultValue.text);
  ASSERT_EQ(1u, k.values.size());
  EXPECT_TRUE(k.values[0].isDword);
  EXPECT_EQ(16u, k.values[0].number);
  EXPECT_EQ(L"Sub", k.subkeys.at(0).name);
}

TEST(propsheetScript, VariablesAreQuotedForStrings) {
  tessel::ScriptVariables vars = {{L"MODULE", L"C:\\it's\\x.dll"}};
  EXPECT_EQ(L"'C:\\it''s\\x.dll' 100% %OTHER% %", tessel::ExpandScriptVariables(L"'%MODULE%' 100%% %OTHER% %", vars));
}
