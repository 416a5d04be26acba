// The class factory of the extension module.
#include "class_factory.h"

#include "file_info_page.h"
#include "module.h"

namespace tessel {

namespace {
CClassFactory g_factory;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// The factory is static: counting references would change nothing.
STDMETHODIMP_(ULONG) CClassFactory::AddRef() { return 2; }

STDMETHODIMP_(ULONG) CClassFactory::Release() { return 1; }

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return CWimFileInfoPage::Create(outer, riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
  if (lock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, kClsidWimFileInfoPage)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

}  // namespace tessel
