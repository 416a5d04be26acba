// The list of the items a capture left out of its image (IDD_SKIPPED_ITEMS):
// each path with its reason, one per line, in a text box the user can select
// from, copy as a whole, or save as a UTF-8 text file. And the question a
// capture asks about the first file it cannot read.
#pragma once
#include <string>
#include <vector>

#include "engine/engine.h"
#include "win/dialog.h"

class CSkippedItemsDlg : public Dialog {
 public:
  explicit CSkippedItemsDlg(std::vector<SkippedItem> items);

  // The list as it is shown, copied and saved: "path<TAB>reason" per line.
  static std::wstring ItemsText(const std::vector<SkippedItem>& items);
  // Writes the text as UTF-8 (with its byte-order mark) beside `path` and
  // puts it in place; false, with GetLastError, when that fails.
  static bool SaveText(const std::wstring& path, const std::wstring& text);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void Copy();
  void Save();

  std::vector<SkippedItem> items_;
};

// Shows the list modally over `owner`.
void ShowSkippedItems(HWND owner, const std::vector<SkippedItem>& items);

// The question about a file the capture cannot read, in a box owned by the
// window `owner` (an HWND, may be null): Yes skips it, No skips every such
// file of this capture, Cancel stops the capture. Fits UnreadableQuestion.
UnreadableChoice AskAboutUnreadable(void* owner, const std::wstring& path, const std::wstring& reason);
