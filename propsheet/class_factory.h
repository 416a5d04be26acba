/*
 * class_factory.h - the module's class factory for CWimFileInfoPage.
 *
 * One static factory serves the module. References to it do not hold the
 * module; LockServer does, as COM clients expect.
 */
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tessel {

class CClassFactory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;
};

// Hands out the factory for CLSID `clsid`; any other gives
// CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace tessel
