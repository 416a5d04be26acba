// The COM server side of Tessel64.dll, loaded in-process: exports, class
// factory, interfaces, aggregation and the module lock count.
#include <windows.h>
#include <gtest/gtest.h>
#include <oleauto.h>

#include "file_info_page.h"
#include "tessel_test_util.h"

using tesseltest::Dll;

namespace {

// An aggregating object that records what the inner object delegates to it.
struct Outer : IUnknown {
  LONG addRefs = 0, releases = 0, queries = 0;
  IID lastIid = IID_NULL;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    lastIid = riid;
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++addRefs; }
  STDMETHODIMP_(ULONG) Release() override { return ++releases; }
};

const GUID kOtherClsid = {0x8bac8316, 0xcc4b, 0x43e3, {0xa7, 0xfd, 0xa8, 0x17, 0x8e, 0x00, 0x38, 0x6a}};

}  // namespace

TEST(propsheetExports, FourExportsByNameAndOrdinalsOneToFour) {
  HMODULE m = Dll().module;
  ASSERT_NE(nullptr, m);
  const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
  for (int i = 0; i < 4; ++i) {
    FARPROC byName = GetProcAddress(m, names[i]);
    ASSERT_NE(nullptr, byName) << names[i];
    EXPECT_EQ(byName, GetProcAddress(m, MAKEINTRESOURCEA(i + 1))) << names[i];
  }
  EXPECT_EQ(nullptr, GetProcAddress(m, MAKEINTRESOURCEA(5)));
}

TEST(propsheetExports, ClassObjectOnlyForTheExtensionClass) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, Dll().getClassObject(tessel::kClsidWimFileInfoPage, IID_IClassFactory, (void**)&factory));
  ASSERT_NE(nullptr, factory);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IShellExtInit, &p));
  EXPECT_EQ(nullptr, p);
  factory->Release();

  IUnknown* unk = nullptr;
  EXPECT_EQ(S_OK, Dll().getClassObject(tessel::kClsidWimFileInfoPage, IID_IUnknown, (void**)&unk));
  if (unk) unk->Release();

  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Dll().getClassObject(kOtherClsid, IID_IClassFactory, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Dll().getClassObject(IID_IFileTimeShlExt, IID_IClassFactory, &p));
}

TEST(propsheetObject, AnswersForItsInterfacesWithOneIdentity) {
  IUnknown* unk = nullptr;
  ASSERT_EQ(S_OK, tesseltest::CreateObject(IID_IUnknown, (void**)&unk));
  const IID* iids[] = {&IID_IUnknown, &IID_IFileTimeShlExt, &IID_IDispatch, &IID_IShellExtInit,
                       &IID_IShellPropSheetExt};
  for (const IID* iid : iids) {
    IUnknown* itf = nullptr;
    ASSERT_EQ(S_OK, unk->QueryInterface(*iid, (void**)&itf));
    IUnknown* back = nullptr;
    ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, (void**)&back));
    EXPECT_EQ(unk, back) << "every interface leads back to the same IUnknown";
    back->Release();
    itf->Release();
  }
  const IID* others[] = {&IID_IClassFactory, &IID_IContextMenu, &IID_IPersistFile};
  for (const IID* iid : others) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, unk->QueryInterface(*iid, &p));
    EXPECT_EQ(nullptr, p);
  }

  IShellPropSheetExt* ext = nullptr;
  ASSERT_EQ(S_OK, unk->QueryInterface(IID_IShellPropSheetExt, (void**)&ext));
  EXPECT_EQ(E_NOTIMPL, ext->ReplacePage(0, nullptr, 0));
  ext->Release();
  EXPECT_EQ(0u, unk->Release());
}

TEST(propsheetObject, DispatchDescribedByTheEmbeddedTypeLibrary) {
  IDispatch* disp = nullptr;
  ASSERT_EQ(S_OK, tesseltest::CreateObject(IID_IDispatch, (void**)&disp));
  UINT count = 0;
  EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, &info));
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
  EXPECT_STREQ(L"IFileTimeShlExt", name);
  SysFreeString(name);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualIID(IID_IFileTimeShlExt, attr->guid));
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(7, attr->cFuncs) << "IDispatch's seven methods and none of its own";
  info->ReleaseTypeAttr(attr);

  // The library around it.
  ITypeLib* lib = nullptr;
  UINT index = 0;
  ASSERT_EQ(S_OK, info->GetContainingTypeLib(&lib, &index));
  BSTR libName = nullptr, help = nullptr;
  EXPECT_EQ(S_OK, lib->GetDocumentation(-1, &libName, &help, nullptr, nullptr));
  EXPECT_STREQ(L"FILETIMELib", libName);
  EXPECT_STREQ(L"Quarry ShellPropSheet", help);
  SysFreeString(libName);
  SysFreeString(help);
  ITypeInfo* coclass = nullptr;
  EXPECT_EQ(S_OK, lib->GetTypeInfoOfGuid(tessel::kClsidWimFileInfoPage, &coclass));
  if (coclass) coclass->Release();
  lib->Release();
  info->Release();

  EXPECT_EQ(DISP_E_BADINDEX, disp->GetTypeInfo(1, 0, &info));
  LPOLESTR unknownName = const_cast<LPOLESTR>(L"Refresh");
  DISPID id = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, disp->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, &id));
  DISPPARAMS none = {};
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  disp->Release();
}

TEST(propsheetObject, AggregatesUnderAnOuterObject) {
  Outer outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, tesseltest::CreateObject(IID_IShellExtInit, &p, &outer));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(S_OK, Dll().canUnloadNow()) << "a refused aggregate leaves nothing behind";

  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, tesseltest::CreateObject(IID_IUnknown, (void**)&inner, &outer));
  EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
  EXPECT_EQ(0, outer.addRefs) << "the inner unknown counts for itself";

  IShellExtInit* init = nullptr;
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IShellExtInit, (void**)&init));
  EXPECT_EQ(1, outer.addRefs) << "interfaces handed out count on the outer object";

  // Calls through an interface go to the outer object.
  IUnknown* viaInit = nullptr;
  EXPECT_EQ(E_NOINTERFACE, init->QueryInterface(IID_IUnknown, (void**)&viaInit));
  EXPECT_EQ(1, outer.queries);
  EXPECT_TRUE(IsEqualIID(IID_IUnknown, outer.lastIid));
  init->AddRef();
  EXPECT_EQ(2, outer.addRefs);
  init->Release();
  init->Release();
  EXPECT_EQ(2, outer.releases);

  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  EXPECT_EQ(0u, inner->Release());
  EXPECT_EQ(S_OK, Dll().canUnloadNow());
}

TEST(propsheetModule, CanUnloadOnlyWithoutObjectsAndLocks) {
  ASSERT_EQ(S_OK, Dll().canUnloadNow());
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, Dll().getClassObject(tessel::kClsidWimFileInfoPage, IID_IClassFactory, (void**)&factory));
  EXPECT_EQ(S_OK, Dll().canUnloadNow()) << "holding the factory alone does not lock the server";

  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, Dll().canUnloadNow());

  IShellExtInit* a = nullptr;
  IShellPropSheetExt* b = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IShellExtInit, (void**)&a));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IShellPropSheetExt, (void**)&b));
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  a->Release();
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow());
  b->Release();
  EXPECT_EQ(S_OK, Dll().canUnloadNow());
  factory->Release();
}
