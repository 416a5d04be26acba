// The main window: a modal dialog (IDD_QUARRY_DIALOG) that hosts every page as a
// child form view and switches between the advanced mode (five tab buttons
// over one page) and the easy mode (one page fills the window). It owns the
// main popup menu, the keyboard shortcuts, the title with the selected back
// end, the placement of the overlay tip and the private window messages.
#pragma once
#include <atomic>
#include <string>

#include "controls/buttons.h"
#include "pages/page_advanced.h"
#include "pages/page_apply.h"
#include "pages/page_browser.h"
#include "pages/page_capture.h"
#include "pages/page_easy.h"
#include "pages/page_info.h"
#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"
#include "win/dialog.h"

class CQuarryApp;

class CQuarryDlg : public Dialog {
 public:
  static constexpr int kTabCount = 5;
  static constexpr int kTabStripHeight = 90;
  static constexpr int kMinTrackWidth = 679;
  static constexpr int kMinTrackHeight = 425;

  explicit CQuarryDlg(CQuarryApp& app);
  ~CQuarryDlg() override;

  // Title := base title + " (WIMGAPI)" or " (WIMLIB)" for the selected back end.
  void UpdateTitle();
  const std::wstring& baseTitle() const { return baseTitle_; }

  // Tabs and pages. Tab order: Capture, Apply, Advanced, Info, Browser.
  CTabButton& Tab(int index) { return tabs_[index]; }
  Dialog* TabPage(int index);
  int TabOfPage(const Dialog* page);
  // The tab marked as selected, -1 when none (the task queue is shown).
  int SelectedTab() const;

  // A click on tab `index`: ignored while BusyFlag is set; otherwise the
  // tip goes, the task queue and progress pages hide and the tab's page
  // shows. Returns whether the tab was selected.
  bool ClickTab(int index);
  // Marks tab `index`, shows and enables its page, makes it the current
  // page and hides the other tab pages.
  void SelectTab(int index);
  // Enables or disables the five tabs and redraws them.
  void EnableTabs(bool enable);

  void SwitchToEasyMode();
  void SwitchToAdvancedMode();

  void ShowTaskQueue();
  // As the task queue page's "<" button: back to the remembered tab.
  void CloseTaskQueue();

  // True while an operation started from a page holds the progress page:
  // from its start until its result shows.
  bool PageOperationRunning() const;
  // True while anything runs that must end before the window may close:
  // a page's operation (until its worker has returned) or the task queue.
  bool OperationsRunning() const;
  // Escape, the close box and "退出": the window ends at once when nothing
  // runs; otherwise, after the user agreed, abort is requested and the
  // window ends as soon as the operation has ended.
  void RequestClose();
  bool IsClosePending() const { return closePending_; }

  // A key-down seen by the keyboard hook (posted to this window, so the
  // hook returns at once).
  void QueueShortcut(UINT vk, bool ctrl);
  void OnShortcutKey(UINT vk, bool ctrl);
  // How many key-downs have reached OnShortcutKey, whether or not they did
  // anything: lets a caller know a key has been dealt with.
  int shortcutKeysSeen() const { return shortcutKeysSeen_; }
  // Whether every page has been made (the pages not shown at once follow
  // the window's first paint); may be asked from any thread.
  bool AllPagesMade() const { return allPagesMade_.load(); }

  // Moves to the page of a jump command (ID_JUMP_SPLIT to ID_JUMP_INFO) with a WIM file or
  // folder from another page. Nothing happens while BusyFlag is set.
  void JumpTo(UINT command, const std::wstring& path);

  // Puts the overlay tip exactly over the client area.
  void PlaceTip();

  CPage_Capture& capturePage() { return capture_; }
  CPage_Apply& applyPage() { return apply_; }
  CPage_Advanced& advancedPage() { return advanced_; }
  CPage_Info& infoPage() { return info_; }
  CPage_Browser& browserPage() { return browser_; }
  CPage_Easy& easyPage() { return easy_; }
  CPage_TaskQueue& taskQueuePage() {
    MakeProgressPages();
    return queue_;
  }
  CPage_Progress& progressPage() {
    MakeProgressPages();
    return progress_;
  }
  // Makes the task queue and the progress page if they do not exist yet.
  void MakeProgressPages();
  OperationRunner& runner() { return runner_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}  // Enter never closes the main window
  void OnCancel() override { RequestClose(); }
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // What a page is to the window; the table of pages below walks them all.
  enum class Role { Tab, Easy, Queue, Progress };
  struct PageSlot {
    Dialog* page;
    Role role;
    int tabControl = 0;   // tab pages: the tab button's control id
    UINT tabPicture = 0;  // and its picture
  };
  // A jump command: the tab it selects and what it does before and after.
  struct JumpSlot {
    UINT command;
    int tab;
    void (CQuarryDlg::*prepare)();
    void (CQuarryDlg::*open)(UINT command, const std::wstring& path);
  };
  static const JumpSlot kJumps[];

  void AllowDropsFromLowerIntegrity();
  bool CreatePages();
  // Makes the page of a slot if it has not been made yet: false when it
  // cannot be made.
  bool EnsurePage(const PageSlot& slot);
  void EnsureAllPages();
  // One page not made yet, after the window has painted itself.
  void CreateNextPage();
  void Layout();
  void SelectBackend(BackendKind kind);
  void CloseProgressPage();
  void MoveTab(int step);
  // "开始执行" of the task queue: enabled when the queue holds rows and no
  // run of the queue is under way.
  void EnableQueueStart();
  void OnMainMenu();
  void OnInfoRefresh();
  void WaitForWorkers();
  void OnCloseTimer();

  // The jumps' steps.
  void ResetBrowser();
  void OpenInApply(UINT command, const std::wstring& path);
  void OpenInAdvanced(UINT command, const std::wstring& path);
  void OpenInBrowser(UINT command, const std::wstring& path);
  void OpenInInfo(UINT command, const std::wstring& path);
  void OpenInCapture(UINT command, const std::wstring& path);

  CQuarryApp& app_;
  // Starts every operation of the pages and every run of the queue.
  OperationRunner runner_;
  std::wstring baseTitle_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;

  CTabButton tabs_[kTabCount];
  CPage_Capture capture_;
  CPage_Apply apply_;
  CPage_Advanced advanced_;
  CPage_Info info_;
  CPage_Browser browser_;
  CPage_Easy easy_;
  CPage_TaskQueue queue_;
  CPage_Progress progress_;
  // Every page once, in creation order; the five tab pages first, in tab
  // order. Creation, layout, the modes, the tabs and the jumps walk it.
  static constexpr int kPageCount = 8;
  PageSlot pages_[kPageCount];
  bool closePending_ = false;
  int shortcutKeysSeen_ = 0;
  std::atomic<bool> allPagesMade_{false};
  int nextPage_ = 0;  // the next slot CreateNextPage looks at
};
