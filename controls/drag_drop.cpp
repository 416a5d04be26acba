#include "controls/drag_drop.h"

#include <shellapi.h>
#include <shlobj.h>

#include "controls/control_context.h"
#include "win/messages.h"

namespace {
FORMATETC GlobalFormat(CLIPFORMAT format) { return {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

bool Carries(IDataObject* data, CLIPFORMAT format) {
  if (!data) return false;
  FORMATETC query = GlobalFormat(format);
  return data->QueryGetData(&query) == S_OK;
}

CLIPFORMAT FileContentsFormat() {
  static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILECONTENTS));
  return format;
}

HGLOBAL CopyGlobal(HGLOBAL source) {
  SIZE_T size = GlobalSize(source);
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return nullptr;
  void* to = GlobalLock(copy);
  void* from = GlobalLock(source);
  if (to && from) memcpy(to, from, size);
  if (from) GlobalUnlock(source);
  if (to) GlobalUnlock(copy);
  if (!to || !from) {
    GlobalFree(copy);
    return nullptr;
  }
  return copy;
}

const DWORD kFileContentsSize = 128;
}  // namespace

ComPtr<IDropTargetHelper> CreateDragImageHelper() {
  ComPtr<IDropTargetHelper> helper;
  if (FAILED(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                              reinterpret_cast<void**>(helper.put()))))
    return ComPtr<IDropTargetHelper>();
  return helper;
}

// --- CMyOleTarget ---------------------------------------------------------------------

CMyOleTarget::CMyOleTarget(HWND window, OleDropHandler* handler, IDropTargetHelper* helper)
    : window_(window), handler_(handler) {
  if (helper) {
    helper->AddRef();
    helper_.attach(helper);
  }
}

CMyOleTarget::~CMyOleTarget() = default;

ComPtr<CMyOleTarget> CMyOleTarget::Create(HWND window, OleDropHandler* handler, IDropTargetHelper* helper) {
  ComPtr<CMyOleTarget> target;
  target.attach(new CMyOleTarget(window, handler, helper));
  return target;
}

bool CMyOleTarget::Register() {
  if (!registered_) registered_ = SUCCEEDED(RegisterDragDrop(window_, this));
  return registered_;
}

void CMyOleTarget::Revoke() {
  if (registered_) RevokeDragDrop(window_);
  registered_ = false;
}

DWORD CMyOleTarget::EffectFor(IDataObject* data) {
  if (Carries(data, PrivateClipboardFormat())) return DROPEFFECT_NONE;
  if (Carries(data, CF_HDROP)) return DROPEFFECT_LINK;
  return DROPEFFECT_NONE;
}

STDMETHODIMP CMyOleTarget::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDropTarget) {
    *out = static_cast<IDropTarget*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMyOleTarget::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CMyOleTarget::Release() {
  LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP CMyOleTarget::DragEnter(IDataObject* data, DWORD, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  if (data) data->AddRef();
  current_.attach(data);
  POINT pt = {point.x, point.y};
  *effect = DROPEFFECT_COPY;
  if (helper_) helper_->DragEnter(window_, data, &pt, *effect);
  return S_OK;
}

STDMETHODIMP CMyOleTarget::DragOver(DWORD, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  *effect = EffectFor(current_.get());
  POINT pt = {point.x, point.y};
  if (helper_) helper_->DragOver(&pt, *effect);
  return S_OK;
}

STDMETHODIMP CMyOleTarget::DragLeave() {
  // The helper takes the drag image away when told the drag has left.
  if (helper_) helper_->DragLeave();
  current_ = ComPtr<IDataObject>();
  return S_OK;
}

STDMETHODIMP CMyOleTarget::Drop(IDataObject* data, DWORD, POINTL point, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  POINT pt = {point.x, point.y};
  if (helper_) helper_->Drop(data, &pt, *effect);
  current_ = ComPtr<IDataObject>();
  *effect = (handler_ && EffectFor(data) != DROPEFFECT_NONE) ? handler_->OnOleDrop(data, *effect, point)
                                                               : DROPEFFECT_NONE;
  return S_OK;
}

// --- CMyOleSource -----------------------------------------------------------------------

CMyOleSource::CMyOleSource() {
  HGLOBAL mark = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
  if (mark) CacheGlobalData(PrivateClipboardFormat(), mark);
}

CMyOleSource::~CMyOleSource() {
  for (Entry& entry : entries_)
    if (entry.data) GlobalFree(entry.data);
}

ComPtr<CMyOleSource> CMyOleSource::Create() {
  ComPtr<CMyOleSource> source;
  source.attach(new CMyOleSource());
  return source;
}

CMyOleSource::Entry* CMyOleSource::Find(const FORMATETC& format) {
  for (Entry& entry : entries_) {
    if (entry.format.cfFormat == format.cfFormat && (entry.format.tymed & format.tymed) &&
        format.dwAspect == DVASPECT_CONTENT)
      return &entry;
  }
  return nullptr;
}

void CMyOleSource::CacheGlobalData(CLIPFORMAT format, HGLOBAL data) {
  for (Entry& entry : entries_) {
    if (entry.format.cfFormat == format && entry.data) {
      GlobalFree(entry.data);
      entry.data = data;
      return;
    }
  }
  entries_.push_back({GlobalFormat(format), data});
}

void CMyOleSource::OfferFileContents() {
  FORMATETC format = {FileContentsFormat(), nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL | TYMED_ISTREAM};
  for (const Entry& entry : entries_)
    if (entry.format.cfFormat == format.cfFormat) return;
  entries_.push_back({format, nullptr});
}

DWORD CMyOleSource::DoDragDrop(DWORD allowedEffects) {
  DWORD effect = DROPEFFECT_NONE;
  HRESULT hr = ::DoDragDrop(static_cast<IDataObject*>(this), static_cast<IDropSource*>(this), allowedEffects, &effect);
  return hr == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE;
}

STDMETHODIMP CMyOleSource::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDataObject) *out = static_cast<IDataObject*>(this);
  else if (iid == IID_IDropSource) *out = static_cast<IDropSource*>(this);
  else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CMyOleSource::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CMyOleSource::Release() {
  LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP CMyOleSource::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (!format || !medium) return E_INVALIDARG;
  *medium = {};
  Entry* entry = Find(*format);
  if (!entry) return DV_E_FORMATETC;
  if (entry->data) {
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = CopyGlobal(entry->data);
    return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
  }
  // "FileContents": the file the receiver creates holds 128 zero bytes.
  if (format->tymed & TYMED_HGLOBAL) {
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kFileContentsSize);
    return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
  }
  if (format->tymed & TYMED_ISTREAM) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return E_OUTOFMEMORY;
    BYTE zeros[kFileContentsSize] = {};
    ULONG written = 0;
    stream->Write(zeros, kFileContentsSize, &written);
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    medium->tymed = TYMED_ISTREAM;
    medium->pstm = stream;
    return S_OK;
  }
  return DV_E_TYMED;
}

STDMETHODIMP CMyOleSource::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP CMyOleSource::QueryGetData(FORMATETC* format) {
  if (!format) return E_INVALIDARG;
  return Find(*format) ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP CMyOleSource::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP CMyOleSource::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
  // The shell stores its drag-image state here as global memory.
  if (!format || !medium || medium->tymed != TYMED_HGLOBAL || !(format->tymed & TYMED_HGLOBAL)) return E_NOTIMPL;
  HGLOBAL data = CopyGlobal(medium->hGlobal);
  if (!data) return E_OUTOFMEMORY;
  if (release) ReleaseStgMedium(medium);
  CacheGlobalData(format->cfFormat, data);
  return S_OK;
}

STDMETHODIMP CMyOleSource::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (direction != DATADIR_GET) return E_NOTIMPL;
  std::vector<FORMATETC> formats;
  for (const Entry& entry : entries_) formats.push_back(entry.format);
  return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
}

STDMETHODIMP CMyOleSource::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }
STDMETHODIMP CMyOleSource::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }
STDMETHODIMP CMyOleSource::EnumDAdvise(IEnumSTATDATA**) { return OLE_E_ADVISENOTSUPPORTED; }

STDMETHODIMP CMyOleSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
  if (escapePressed) return DRAGDROP_S_CANCEL;
  if (!(keyState & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
  return S_OK;
}

STDMETHODIMP CMyOleSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

HGLOBAL MakeFileDropData(const std::vector<std::wstring>& paths) {
  size_t chars = 1;  // the final empty string
  for (const std::wstring& path : paths) chars += path.size() + 1;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  if (!block) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(block));
  if (!header) {
    GlobalFree(block);
    return nullptr;
  }
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(header + 1);
  for (const std::wstring& path : paths) {
    memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    text += path.size() + 1;
  }
  GlobalUnlock(block);
  return block;
}

// --- CDropTargetEdit ---------------------------------------------------------------------

// The first dropped path, whole, however long it is.
std::wstring FirstDroppedPath(HDROP drop) {
  UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  if (length == 0) return {};
  std::wstring path(length + 1, L'\0');
  UINT copied = DragQueryFileW(drop, 0, &path[0], length + 1);
  path.resize(copied == length ? length : 0);
  return path;
}

void CDropTargetEdit::OnDropFiles(HDROP drop) {
  std::wstring path = FirstDroppedPath(drop);
  DragFinish(drop);
  if (path.empty()) return;
  SetWindowTextW(hwnd_, path.c_str());
  SendMessageW(GetParent(hwnd_), UM_EDIT_DROPPED, static_cast<WPARAM>(GetDlgCtrlID(hwnd_)), 0);
}

bool CDropTargetEdit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      result = DefaultProc(msg, wParam, lParam);
      if (acceptFilesPending_) {
        SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
        acceptFilesPending_ = false;
      }
      return true;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return true;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}
