#include "tessel_test_util.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "file_info_page.h"
#include "harness.h"

namespace tesseltest {

const wchar_t* const kLabels[6] = {L"\u7248\u672c:",          L"GUID:", L"\u955c\u50cf\u6570:",
                                   L"\u538b\u7f29\u65b9\u5f0f:", L"\u5206\u5377\u6570:",
                                   L"\u53ef\u5f15\u5bfc\u5377\u53f7:"};

namespace {
template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}  // namespace

bool TesselDll::Load(const std::wstring& path) {
  std::wstring file = path.empty() ? qtest::BinDir() + L"\\Tessel64.dll" : path;
  module = LoadLibraryW(file.c_str());
  if (!module) return false;
  canUnloadNow = Export<decltype(canUnloadNow)>(module, "DllCanUnloadNow");
  getClassObject = Export<decltype(getClassObject)>(module, "DllGetClassObject");
  registerServer = Export<decltype(registerServer)>(module, "DllRegisterServer");
  unregisterServer = Export<decltype(unregisterServer)>(module, "DllUnregisterServer");
  return canUnloadNow && getClassObject && registerServer && unregisterServer;
}

std::wstring TesselDll::Path() const {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(module, buf, MAX_PATH);
  return std::wstring(buf, n);
}

TesselDll& Dll() {
  static TesselDll dll;
  static bool loaded = dll.Load();
  EXPECT_TRUE(loaded) << "Tessel64.dll not loadable from " << qtest::Utf8(qtest::BinDir());
  return dll;
}

HRESULT CreateObject(REFIID riid, void** ppv, IUnknown* outer) {
  IClassFactory* factory = nullptr;
  HRESULT hr = Dll().getClassObject(tessel::kClsidWimFileInfoPage, IID_IClassFactory, (void**)&factory);
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

IDataObject* ShellDataObject(const std::wstring& folder, const std::vector<std::wstring>& names) {
  IShellFolder* desktop = nullptr;
  IShellFolder* parent = nullptr;
  PIDLIST_ABSOLUTE folderPidl = nullptr;
  std::vector<PITEMID_CHILD> children;
  IDataObject* data = nullptr;
  if (SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
      SUCCEEDED(SHParseDisplayName(folder.c_str(), nullptr, &folderPidl, 0, nullptr)) &&
      SUCCEEDED(desktop->BindToObject(folderPidl, nullptr, IID_IShellFolder, (void**)&parent))) {
    bool ok = true;
    for (const std::wstring& name : names) {
      PIDLIST_RELATIVE child = nullptr;
      std::wstring copy = name;
      if (FAILED(parent->ParseDisplayName(nullptr, nullptr, &copy[0], nullptr, &child, nullptr))) {
        ok = false;
        break;
      }
      children.push_back(static_cast<PITEMID_CHILD>(child));
    }
    if (ok)
      parent->GetUIObjectOf(nullptr, (UINT)children.size(), const_cast<PCUITEMID_CHILD_ARRAY>(children.data()),
                            IID_IDataObject, nullptr, (void**)&data);
  }
  for (PITEMID_CHILD child : children) CoTaskMemFree(child);
  if (folderPidl) CoTaskMemFree(folderPidl);
  if (parent) parent->Release();
  if (desktop) desktop->Release();
  return data;
}

bool Wimlib(const std::string& args) {
  qtest::UnixResult r = qtest::RunUnix("wimlib-imagex " + args);
  EXPECT_EQ(0, r.exitCode) << "wimlib-imagex " << args << "\n" << r.output;
  return r.exitCode == 0;
}

std::vector<std::wstring> OracleRows(const std::wstring& wimPath) {
  qtest::UnixResult r = qtest::RunUnix("wimlib-imagex info " + qtest::ShQuote(qtest::UnixPath(wimPath)) + " --header");
  EXPECT_EQ(0, r.exitCode) << r.output;
  std::map<std::string, std::string> fields;
  std::istringstream in(r.output);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, line.find_last_not_of(' ', eq) + 1);
    fields[key] = line.substr(eq + 3);
  }
  unsigned long version = strtoul(fields["Version"].c_str(), nullptr, 0);
  unsigned long flags = strtoul(fields["Flags"].c_str(), nullptr, 0);
  // wimlib prints the GUID bytes as they lie in the file.
  std::string hex = fields["GUID"];
  EXPECT_EQ(32u, hex.size()) << hex;
  unsigned b[16] = {};
  for (int i = 0; i < 16 && hex.size() == 32; ++i) b[i] = strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16);
  char guid[64];
  snprintf(guid, sizeof guid, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
           b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  std::string compression = "None";
  if (flags & 0x2) {
    compression.clear();
    if (flags & 0x20000) compression += "Xpress";
    if (flags & 0x40000) compression += "LZX";
    if (compression.empty() && (flags & 0x80000)) compression = "LZMS";
  }
  std::string values[6] = {std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF),
                           guid,
                           fields["Image Count"],
                           compression,
                           fields["Part Number"] + "/" + fields["Total Parts"],
                           fields["Boot Index"]};
  std::vector<std::wstring> rows;
  for (int i = 0; i < 6; ++i) rows.push_back(std::wstring(kLabels[i]) + L" " + qtest::Wide(values[i]));
  return rows;
}

std::vector<std::wstring> TreeRows(HWND tree) {
  std::vector<std::wstring> rows;
  HTREEITEM item = TreeView_GetRoot(tree);
  for (; item; item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[512] = {};
    TVITEMW tvi = {};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = item;
    tvi.pszText = text;
    tvi.cchTextMax = 512;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
    rows.push_back(text);
    EXPECT_EQ(nullptr, TreeView_GetChild(tree, item)) << "rows are top-level items";
  }
  return rows;
}

SheetHost::~SheetHost() { Close(); }

BOOL CALLBACK SheetHost::AddPage(HPROPSHEETPAGE page, LPARAM self) {
  reinterpret_cast<SheetHost*>(self)->pages_.push_back(page);
  return TRUE;
}

HRESULT SheetHost::AddPagesFrom(IShellPropSheetExt* ext) {
  return ext->AddPages(&SheetHost::AddPage, reinterpret_cast<LPARAM>(this));
}

bool SheetHost::Show() {
  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
  header.pszCaption = L"Test";
  header.nPages = (UINT)pages_.size();
  header.phpage = pages_.data();
  sheet_ = reinterpret_cast<HWND>(PropertySheetW(&header));
  if (sheet_ == reinterpret_cast<HWND>(-1) || sheet_ == nullptr) {
    sheet_ = nullptr;
    return false;
  }
  pages_.clear();  // owned by the sheet now
  PumpMessages();
  return true;
}

HWND SheetHost::Page() const {
  return sheet_ ? reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_INDEXTOHWND, 0, 0)) : nullptr;
}

void SheetHost::Close() {
  if (sheet_) {
    DestroyWindow(sheet_);
    sheet_ = nullptr;
    PumpMessages();
  }
  for (HPROPSHEETPAGE page : pages_) DestroyPropertySheetPage(page);
  pages_.clear();
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::wstring WimDir() {
  static std::wstring dir;
  if (!dir.empty()) return dir;
  dir = qtest::TempDir();
  std::string u = qtest::ShQuote(qtest::UnixPath(dir));
  // Incompressible data, so that the split gives three parts.
  qtest::UnixResult r = qtest::RunUnix("cd " + u +
                                       " && mkdir -p src/sub && head -c 300000 /dev/urandom > src/a.bin"
                                       " && head -c 400000 /dev/urandom > src/sub/b.bin"
                                       " && head -c 400000 /dev/urandom > src/c.bin && echo text > src/d.txt");
  EXPECT_EQ(0, r.exitCode) << r.output;
  std::string src = qtest::ShQuote(qtest::UnixPath(dir + L"\\src"));
  auto out = [&](const wchar_t* name) { return qtest::ShQuote(qtest::UnixPath(dir + L"\\" + name)); };
  Wimlib("capture " + src + " " + out(L"none.wim") + " one --compress=none");
  Wimlib("capture " + src + " " + out(L"xpress.wim") + " one --compress=xpress");
  Wimlib("capture " + src + " " + out(L"lzx.wim") + " one --compress=lzx");
  Wimlib("capture " + src + " " + out(L"lzms.wim") + " one --compress=lzms");
  Wimlib("capture " + src + " " + out(L"boot.wim") + " one --compress=lzx");
  Wimlib("append " + src + " " + out(L"boot.wim") + " two --boot");
  Wimlib("split " + out(L"xpress.wim") + " " + out(L"part.swm") + " 0.4 >/dev/null");
  return dir;
}

}  // namespace tesseltest

namespace {
// The tests call the extension on an OLE apartment thread, as Explorer does.
class OleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }
};
::testing::Environment* const g_oleEnvironment = ::testing::AddGlobalTestEnvironment(new OleEnvironment);
}  // namespace
