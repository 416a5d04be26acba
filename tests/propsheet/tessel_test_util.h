// Helpers of the property-sheet extension tests: the loaded Tessel64.dll,
// real shell data objects for a selection, real WIM files made by
// wimlib-imagex with its own reading of their headers, and the rows of a
// live property page.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace tesseltest {

// Tessel64.dll loaded from the bin folder, with its four exports.
struct TesselDll {
  HMODULE module = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;

  // Loads the library at `path` (BinDir()\Tessel64.dll when empty).
  bool Load(const std::wstring& path = std::wstring());
  std::wstring Path() const;
};

// The DLL of this test program, loaded once and kept for all tests.
TesselDll& Dll();

// A new object of the extension class, asked for `riid`.
HRESULT CreateObject(REFIID riid, void** ppv, IUnknown* outer = nullptr);

// The shell's own data object for `names` inside `folder`, as Explorer hands
// it to a property-sheet extension.
IDataObject* ShellDataObject(const std::wstring& folder, const std::vector<std::wstring>& names);

// Expected rows computed from `wimlib-imagex info --header`, with labels.
std::vector<std::wstring> OracleRows(const std::wstring& wimPath);

// Runs `wimlib-imagex args...` (args already shell-quoted); true on success.
bool Wimlib(const std::string& args);

// The texts of the top-level items of a tree control, in order.
std::vector<std::wstring> TreeRows(HWND tree);

// Six labels as shown on the page.
extern const wchar_t* const kLabels[6];

// A modeless property sheet showing the pages added by an extension object.
class SheetHost {
 public:
  ~SheetHost();
  // Calls AddPages of `ext`; the result of AddPages is returned.
  HRESULT AddPagesFrom(IShellPropSheetExt* ext);
  size_t PageCount() const { return pages_.size(); }
  // Shows the collected pages; false when the sheet could not be created.
  bool Show();
  HWND Sheet() const { return sheet_; }
  HWND Page() const;
  void Close();

 private:
  static BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM self);
  std::vector<HPROPSHEETPAGE> pages_;
  HWND sheet_ = nullptr;
};

void PumpMessages();

// The folder where the wimlib files of this test program are made, once.
std::wstring WimDir();

}  // namespace tesseltest
