// The about box (IDD_ABOUT, "关于 Quarry"): the program's picture, its
// version, the versions of the system's imaging components, whether wimlib
// is bound, three links to the maker's pages and the update check.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "win/dialog.h"
#include "win/gdiplus.h"

class CQuarryApp;
struct UpdateCheckLink;
struct UpdateResult;

class CAboutDlg : public Dialog {
 public:
  explicit CAboutDlg(CQuarryApp& app);
  ~CAboutDlg() override;

  // The text lines drawn below the version line: four component rows
  // ("name", "version"), then "Wimlib:   OK!" or "Wimlib:   Failed!".
  struct Row {
    std::wstring name;
    std::wstring version;
  };
  const std::vector<Row>& rows() const { return rows_; }
  std::wstring WimlibLine() const;

  // The thread of the latest update check (0 before the first): it ends on
  // its own once the check is answered or cut off, box or no box.
  DWORD checkThreadId() const { return checkThread_; }

  // The update check's answer, on this box's thread: told to the user.
  void OnUpdateResult(const UpdateResult& result);

  // The "FileVersion" (or other key) text of a file's version resource.
  static std::wstring FileVersionText(const std::wstring& path, const wchar_t* key = L"FileVersion");

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void ReadComponents();
  void Paint(HDC dc, const RECT& client);
  void Layout(int width, int height);
  void StartUpdateCheck();
  void OpenPage(const std::wstring& url);

  CQuarryApp& app_;
  PngImage picture_;
  std::vector<Row> rows_;
  bool wimlibBound_ = false;
  std::shared_ptr<UpdateCheckLink> check_;  // shared with a running check
  DWORD checkThread_ = 0;
};
