// IShellExtInit::Initialize with real shell data objects, and what AddPages
// makes of the selection.
#include <windows.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include "file_info_page.h"
#include "harness.h"
#include "module.h"
#include "tessel_test_util.h"

using tesseltest::Dll;

namespace {

// A folder with `files` small files f000.wim... and one subfolder "dir".
std::wstring MakeSelectionFolder(int files, std::vector<std::wstring>* names) {
  std::wstring dir = qtest::TempDir();
  for (int i = 0; i < files; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"f%03d.wim", i);
    qtest::WriteFileBytes(dir + L"\\" + name, "not a wim");
    names->push_back(name);
  }
  CreateDirectoryW((dir + L"\\dir").c_str(), nullptr);
  return dir;
}

// Initialize through the DLL, then AddPages; returns both results and the
// number of pages offered.
struct Outcome {
  HRESULT init = E_UNEXPECTED;
  HRESULT add = E_UNEXPECTED;
  size_t pages = 0;
};

Outcome InitAndAdd(IDataObject* data) {
  Outcome out;
  IShellExtInit* init = nullptr;
  EXPECT_EQ(S_OK, tesseltest::CreateObject(IID_IShellExtInit, (void**)&init));
  if (!init) return out;
  out.init = init->Initialize(nullptr, data, nullptr);
  IShellPropSheetExt* ext = nullptr;
  EXPECT_EQ(S_OK, init->QueryInterface(IID_IShellPropSheetExt, (void**)&ext));
  tesseltest::SheetHost sheet;
  out.add = sheet.AddPagesFrom(ext);
  out.pages = sheet.PageCount();
  ext->Release();
  init->Release();
  return out;
}

// A data object that holds text only, as dragged from an editor.
struct TextOnlyData : IDataObject {
  int getDataCalls = 0;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM*) override {
    ++getDataCalls;
    return format->cfFormat == CF_UNICODETEXT ? E_NOTIMPL : DV_E_FORMATETC;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override {
    return format->cfFormat == CF_UNICODETEXT ? S_OK : DV_E_FORMATETC;
  }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }
};

}  // namespace

TEST(propsheetSelection, OneFileAndFileWithFolderGiveAPage) {
  std::vector<std::wstring> names;
  std::wstring dir = MakeSelectionFolder(2, &names);

  IDataObject* one = tesseltest::ShellDataObject(dir, {names[0]});
  ASSERT_NE(nullptr, one);
  Outcome o = InitAndAdd(one);
  EXPECT_EQ(S_OK, o.init);
  EXPECT_EQ(S_OK, o.add);
  EXPECT_EQ(1u, o.pages);

  // The folder does not count; the page is for the file.
  IDataObject* mixed = tesseltest::ShellDataObject(dir, {L"dir", names[1]});
  ASSERT_NE(nullptr, mixed);
  o = InitAndAdd(mixed);
  EXPECT_EQ(S_OK, o.init);
  EXPECT_EQ(S_OK, o.add);
  EXPECT_EQ(1u, o.pages);

  // The same through the linked code, to see the list kept.
  IShellExtInit* init = nullptr;
  ASSERT_EQ(S_OK, tessel::CWimFileInfoPage::Create(nullptr, IID_IShellExtInit, (void**)&init));
  auto* obj = static_cast<tessel::CWimFileInfoPage*>(init);
  EXPECT_EQ(S_OK, init->Initialize(nullptr, mixed, nullptr));
  ASSERT_EQ(1u, obj->Paths().size());
  EXPECT_EQ(dir + L"\\" + names[1], obj->Paths()[0]);
  EXPECT_EQ(1, tessel::SelectedFileCount());
  // A second Initialize describes the new selection only.
  EXPECT_EQ(S_OK, init->Initialize(nullptr, one, nullptr));
  ASSERT_EQ(1u, obj->Paths().size());
  EXPECT_EQ(dir + L"\\" + names[0], obj->Paths()[0]);
  init->Release();

  mixed->Release();
  one->Release();
  EXPECT_EQ(S_OK, Dll().canUnloadNow());
}

TEST(propsheetSelection, TwoFilesOrOnlyFoldersGiveNoPage) {
  std::vector<std::wstring> names;
  std::wstring dir = MakeSelectionFolder(2, &names);
  CreateDirectoryW((dir + L"\\dir2").c_str(), nullptr);

  IDataObject* two = tesseltest::ShellDataObject(dir, {names[0], L"dir", names[1]});
  ASSERT_NE(nullptr, two);
  Outcome o = InitAndAdd(two);
  EXPECT_EQ(S_OK, o.init);
  EXPECT_EQ(E_OUTOFMEMORY, o.add);
  EXPECT_EQ(0u, o.pages);
  two->Release();

  IDataObject* folders = tesseltest::ShellDataObject(dir, {L"dir", L"dir2"});
  ASSERT_NE(nullptr, folders);
  o = InitAndAdd(folders);
  EXPECT_EQ(E_FAIL, o.init);
  EXPECT_EQ(0u, o.pages);
  folders->Release();
  EXPECT_EQ(S_OK, Dll().canUnloadNow());
}

TEST(propsheetSelection, HundredFiftyFilesKeepFirstHundredAndGiveNoPage) {
  std::vector<std::wstring> names;
  std::wstring dir = MakeSelectionFolder(150, &names);
  IDataObject* data = tesseltest::ShellDataObject(dir, names);
  ASSERT_NE(nullptr, data);

  Outcome o = InitAndAdd(data);
  EXPECT_EQ(S_OK, o.init);
  EXPECT_EQ(E_OUTOFMEMORY, o.add);
  EXPECT_EQ(0u, o.pages);

  IShellExtInit* init = nullptr;
  ASSERT_EQ(S_OK, tessel::CWimFileInfoPage::Create(nullptr, IID_IShellExtInit, (void**)&init));
  auto* obj = static_cast<tessel::CWimFileInfoPage*>(init);
  EXPECT_EQ(S_OK, init->Initialize(nullptr, data, nullptr));
  EXPECT_EQ(150, tessel::SelectedFileCount());
  ASSERT_EQ(100u, obj->Paths().size());
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(dir + L"\\" + names[i], obj->Paths()[i]);
  init->Release();
  data->Release();
}

TEST(propsheetSelection, DataWithoutFileListIsRefused) {
  TextOnlyData text;
  Outcome o = InitAndAdd(&text);
  EXPECT_EQ(E_INVALIDARG, o.init);
  EXPECT_EQ(1, text.getDataCalls);
  EXPECT_EQ(0u, o.pages) << "no page without a file";

  IShellExtInit* init = nullptr;
  ASSERT_EQ(S_OK, tesseltest::CreateObject(IID_IShellExtInit, (void**)&init));
  EXPECT_EQ(E_INVALIDARG, init->Initialize(nullptr, nullptr, nullptr));
  init->Release();
}
