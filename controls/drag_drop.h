// Drag and drop with the shell: the OLE drop target that the pages
// register, the data source of the browser's drag-out, and an edit box
// that takes the path of a file dropped into it.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "win/handles.h"
#include "win/window.h"

// What a page does with a drop on it.
class OleDropHandler {
 public:
  virtual ~OleDropHandler() = default;
  // The data dropped at a screen point; returns the effect carried out.
  virtual DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) = 0;
};

// The shell's drag-image helper, or an empty pointer when it cannot be made.
ComPtr<IDropTargetHelper> CreateDragImageHelper();

// The drop target registered for a page. Every event goes to the shell's
// drag-image helper first (when there is one), so the drag image follows
// the cursor. Files are accepted as links; data that carries the program's
// private format, or no file list, is refused. The drop itself is handed to
// the page's handler.
class CMyOleTarget : public IDropTarget {
 public:
  // A new target with one reference.
  static ComPtr<CMyOleTarget> Create(HWND window, OleDropHandler* handler, IDropTargetHelper* helper);

  // RegisterDragDrop / RevokeDragDrop for the window.
  bool Register();
  void Revoke();

  // The effect a drag over the window gets for this data.
  static DWORD EffectFor(IDataObject* data);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDropTarget
  STDMETHODIMP DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragLeave() override;
  STDMETHODIMP Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) override;

 private:
  CMyOleTarget(HWND window, OleDropHandler* handler, IDropTargetHelper* helper);
  virtual ~CMyOleTarget();

  LONG refs_ = 1;
  HWND window_;
  OleDropHandler* handler_;
  ComPtr<IDropTargetHelper> helper_;
  ComPtr<IDataObject> current_;  // data of the drag in progress
  bool registered_ = false;
};

// The data of a drag out of the program: formats given as global memory,
// always the program's private format (so the program's own pages refuse
// it), and "FileContents" rendered on request as a file of 128 zero bytes.
class CMyOleSource : public IDataObject, public IDropSource {
 public:
  static ComPtr<CMyOleSource> Create();

  // Offers a format from global memory; the source takes ownership.
  void CacheGlobalData(CLIPFORMAT format, HGLOBAL data);
  // Offers the registered "FileContents" format, rendered when asked for.
  void OfferFileContents();
  // Runs the drag; returns the effect (DROPEFFECT_NONE when cancelled).
  DWORD DoDragDrop(DWORD allowedEffects);

  std::wstring text;  // set by the owner

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDataObject
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override;
  STDMETHODIMP DUnadvise(DWORD) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override;
  // IDropSource
  STDMETHODIMP QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
  STDMETHODIMP GiveFeedback(DWORD effect) override;

 private:
  struct Entry {
    FORMATETC format;
    HGLOBAL data;  // null for the rendered "FileContents"
  };
  CMyOleSource();
  virtual ~CMyOleSource();
  Entry* Find(const FORMATETC& format);

  LONG refs_ = 1;
  std::vector<Entry> entries_;
};

// Fills a global block with a CF_HDROP file list (DROPFILES + the paths,
// wide characters); null on failure. The caller owns the block.
HGLOBAL MakeFileDropData(const std::vector<std::wstring>& paths);

// The first path of a file-drop block, whole (empty when there is none).
std::wstring FirstDroppedPath(HDROP drop);

// An edit box into which a file can be dropped from Explorer: the first
// dropped path, whole, becomes its text, and the parent page gets UM_EDIT_DROPPED
// with the edit's control id. The edit starts accepting files at its first
// paint.
class CDropTargetEdit : public Window {
 protected:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnDropFiles(HDROP drop);

  bool acceptFilesPending_ = true;  // files are accepted from the first paint on
};
