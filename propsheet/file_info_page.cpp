// The property-sheet extension object: selection, page creation, IDispatch.
#include "file_info_page.h"

#include <commctrl.h>
#include <shellapi.h>

#include <new>

#include "module.h"
#include "resource.h"
#include "wim_header.h"

namespace tessel {

const CLSID kClsidWimFileInfoPage = {0x8bac8316, 0xcc4b, 0x43e3, {0xa7, 0xfd, 0xa8, 0x17, 0x8e, 0x00, 0x38, 0x69}};

namespace {

// Releases a storage medium when it goes out of scope.
class StorageMedium {
 public:
  StorageMedium() = default;
  ~StorageMedium() {
    if (held_) ReleaseStgMedium(&medium_);
  }
  StorageMedium(const StorageMedium&) = delete;
  StorageMedium& operator=(const StorageMedium&) = delete;
  STGMEDIUM* Receive() {
    held_ = true;
    return &medium_;
  }

  HGLOBAL Global() const { return medium_.hGlobal; }

 private:
  STGMEDIUM medium_ = {};
  bool held_ = false;
};

// Keeps a global memory block locked while in scope.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
  ~GlobalLockScope() {
    if (p_) GlobalUnlock(h_);
  }
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  void* Get() const { return p_; }

 private:
  HGLOBAL h_;
  void* p_;
};

bool IsFolder(const std::wstring& path) {
  DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

// The dropped name at `index`, whole whatever its length; empty on failure.
std::wstring QueryDropName(HDROP drop, UINT index) {
  UINT length = DragQueryFileW(drop, index, nullptr, 0);
  if (length == 0) return std::wstring();
  std::wstring name(length + 1, L'\0');
  UINT got = DragQueryFileW(drop, index, &name[0], length + 1);
  if (got == 0 || got > length) return std::wstring();
  name.resize(got);
  return name;
}

// The first window among the children of `parent` whose class is exactly
// "SysTabControl32".
HWND FindTabControl(HWND parent) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[64];
    if (GetClassNameW(child, cls, 64) && lstrcmpW(cls, WC_TABCONTROLW) == 0) return child;
  }
  return nullptr;
}

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM, LPARAM lParam) {
  if (msg != WM_INITDIALOG) return 0;
  auto* psp = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
  HWND tree = GetDlgItem(page, IDC_INFO_TREE);
  // Fit the list to the sheet's tab area; without a tab control the
  // template's placement stays.
  if (HWND tab = FindTabControl(GetParent(page))) {
    RECT rc;
    GetClientRect(tab, &rc);
    MoveWindow(tree, 10, 18, rc.right - rc.left - 30, rc.bottom - rc.top - 70, TRUE);
  }
  if (psp && psp->lParam) {
    try {
      FillInfoList(tree, reinterpret_cast<const wchar_t*>(psp->lParam));
    } catch (const std::bad_alloc&) {
      // The rows built so far stay; nothing else to do in a dialog procedure.
    }
  }
  return 0;
}

// When the page is released: frees its copy of the path and drops the
// module lock that AddPages took for it.
UINT CALLBACK PageCallback(HWND, UINT msg, LPPROPSHEETPAGEW psp) {
  if (msg != PSPCB_RELEASE) return 1;
  if (psp && psp->lParam) {
    delete[] reinterpret_cast<wchar_t*>(psp->lParam);
    psp->lParam = 0;
  }
  UnlockModule();
  return 1;
}

wchar_t* DuplicatePath(const std::wstring& path) {
  auto* copy = new (std::nothrow) wchar_t[path.size() + 1];
  if (copy) lstrcpynW(copy, path.c_str(), (int)path.size() + 1);
  return copy;
}

}  // namespace

// ---- creation and lifetime ----

CWimFileInfoPage::CWimFileInfoPage(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) {
  LockModule();
}

CWimFileInfoPage::~CWimFileInfoPage() {
  if (typeInfo_) typeInfo_->Release();
  UnlockModule();
}

HRESULT CWimFileInfoPage::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate must hold the inner object through its IUnknown.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* obj = new (std::nothrow) CWimFileInfoPage(outer);
  if (!obj) return E_OUTOFMEMORY;
  HRESULT hr = obj->inner_.QueryInterface(riid, ppv);
  obj->inner_.Release();  // drops the creation reference; frees on failure
  return hr;
}

STDMETHODIMP CWimFileInfoPage::Inner::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(riid, IID_IFileTimeShlExt) || IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IFileTimeShlExt*>(owner_);
  } else if (IsEqualIID(riid, IID_IShellExtInit)) {
    *ppv = static_cast<IShellExtInit*>(owner_);
  } else if (IsEqualIID(riid, IID_IShellPropSheetExt)) {
    *ppv = static_cast<IShellPropSheetExt*>(owner_);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Interfaces other than this one count on the controlling unknown.
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CWimFileInfoPage::Inner::AddRef() { return InterlockedIncrement(&owner_->refs_); }

STDMETHODIMP_(ULONG) CWimFileInfoPage::Inner::Release() {
  LONG refs = InterlockedDecrement(&owner_->refs_);
  if (refs == 0) delete owner_;
  return refs;
}

STDMETHODIMP CWimFileInfoPage::QueryInterface(REFIID riid, void** ppv) { return outer_->QueryInterface(riid, ppv); }

STDMETHODIMP_(ULONG) CWimFileInfoPage::AddRef() { return outer_->AddRef(); }

STDMETHODIMP_(ULONG) CWimFileInfoPage::Release() { return outer_->Release(); }

// ---- IDispatch ----

HRESULT CWimFileInfoPage::LoadTypeInfo() {
  if (typeInfo_) return S_OK;
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  hr = lib->GetTypeInfoOfGuid(IID_IFileTimeShlExt, &typeInfo_);
  lib->Release();
  return hr;
}

STDMETHODIMP CWimFileInfoPage::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CWimFileInfoPage::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  typeInfo_->AddRef();
  *info = typeInfo_;
  return S_OK;
}

STDMETHODIMP CWimFileInfoPage::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(typeInfo_, names, count, ids);
}

STDMETHODIMP CWimFileInfoPage::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  return DispInvoke(static_cast<IFileTimeShlExt*>(this), typeInfo_, id, flags, params, result, excep, argErr);
}

// ---- IShellExtInit ----

STDMETHODIMP CWimFileInfoPage::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  // The date classes as the page always asked for, and the tree view its
  // template uses.
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_DATE_CLASSES | ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&icc);

  if (!data) return E_INVALIDARG;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  StorageMedium medium;
  if (FAILED(data->GetData(&format, medium.Receive()))) return E_INVALIDARG;
  GlobalLockScope lock(medium.Global());
  if (!lock.Get()) return E_INVALIDARG;

  // A new selection replaces whatever an earlier call collected.
  paths_.clear();
  SetSelectedFileCount(0);
  HDROP drop = static_cast<HDROP>(lock.Get());
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  try {
    for (UINT i = 0; i < count; ++i) {
      std::wstring name = QueryDropName(drop, i);
      if (name.empty() || IsFolder(name)) continue;
      // Only the first kMaxPaths are kept, but every file is counted.
      if (paths_.size() < kMaxPaths) paths_.push_back(std::move(name));
      SetSelectedFileCount(SelectedFileCount() + 1);
    }
  } catch (const std::bad_alloc&) {
    paths_.clear();
    return E_OUTOFMEMORY;
  }
  return paths_.empty() ? E_FAIL : S_OK;
}

// ---- IShellPropSheetExt ----

STDMETHODIMP CWimFileInfoPage::AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) {
  // The page describes exactly one file.
  if (SelectedFileCount() > 1) return E_OUTOFMEMORY;
  if (paths_.empty() || !addPage) return E_FAIL;
  wchar_t* path = DuplicatePath(paths_.front());
  if (!path) return E_OUTOFMEMORY;

  PROPSHEETPAGEW psp = {};
  psp.dwSize = PROPSHEETPAGEW_V1_SIZE;
  psp.dwFlags = PSP_USETITLE | PSP_USEREFPARENT | PSP_USECALLBACK | PSP_USEICONID;
  psp.hInstance = ModuleInstance();
  psp.pszTemplate = MAKEINTRESOURCEW(IDD_WIMINFO);
  psp.pszIcon = nullptr;
  psp.pszTitle = MAKEINTRESOURCEW(IDS_PAGE_TITLE);
  psp.pfnDlgProc = PageProc;
  psp.lParam = reinterpret_cast<LPARAM>(path);
  psp.pfnCallback = PageCallback;
  psp.pcRefParent = ModuleLockCounter();

  HPROPSHEETPAGE page = CreatePropertySheetPageW(&psp);
  if (!page) {
    // No page took the copy, so no release callback will free it.
    delete[] path;
    return S_OK;
  }
  // The reference parent keeps the module while the page lives where the
  // property sheet honours it; this lock does so everywhere. The release
  // callback drops it, also when the page is destroyed right below.
  LockModule();
  if (!addPage(page, lParam)) DestroyPropertySheetPage(page);
  return S_OK;
}

STDMETHODIMP CWimFileInfoPage::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }

}  // namespace tessel
