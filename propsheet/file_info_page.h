/*
 * file_info_page.h - the COM class behind the "WIM信息" property page.
 *
 * CWimFileInfoPage is an apartment-threaded, aggregatable COM object that
 * Explorer creates for the property sheet of an image file. Initialize
 * collects the selected files (folders skipped, at most kMaxPaths kept);
 * AddPages adds one page for a selection of exactly one file. The page
 * outlives the object: it holds its own copy of the path and a module lock.
 *
 * Interfaces: IUnknown, IFileTimeShlExt (dual, no methods of its own) with
 * IDispatch, IShellExtInit, IShellPropSheetExt.
 */
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tessel_idl.h"

namespace tessel {

// {8BAC8316-CC4B-43e3-A7FD-A8178E003869}
extern const CLSID kClsidWimFileInfoPage;

class CWimFileInfoPage final : public IFileTimeShlExt, public IShellExtInit, public IShellPropSheetExt {
 public:
  // Most paths an object keeps from one selection.
  static constexpr size_t kMaxPaths = 100;

  // Creates an object, aggregated when `outer` is set (then only IUnknown
  // may be asked for), and returns the interface `riid` in `*ppv`.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  // IUnknown: delegates to the controlling unknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch, answered from the module's type library.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override;

  // IShellExtInit: the folder and the registry key are not used.
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

  // IShellPropSheetExt
  STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) override;
  STDMETHODIMP ReplacePage(EXPPS pageId, LPFNSVADDPROPSHEETPAGE replacePage,
                           LPARAM lParam) override;

  // The files collected by the last Initialize, in selection order.
  const std::vector<std::wstring>& Paths() const { return paths_; }

 private:
  // The non-delegating IUnknown that owns the object's life.
  class Inner : public IUnknown {
   public:
    explicit Inner(CWimFileInfoPage* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    CWimFileInfoPage* owner_;
  };

  explicit CWimFileInfoPage(IUnknown* outer);
  ~CWimFileInfoPage();
  CWimFileInfoPage(const CWimFileInfoPage&) = delete;
  CWimFileInfoPage& operator=(const CWimFileInfoPage&) = delete;

  HRESULT LoadTypeInfo();

  Inner inner_;
  IUnknown* outer_;  // the controlling unknown: the aggregate or &inner_
  LONG refs_ = 1;
  ITypeInfo* typeInfo_ = nullptr;
  std::vector<std::wstring> paths_;
};

}  // namespace tessel
