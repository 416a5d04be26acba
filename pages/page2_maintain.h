// The maintenance page (IDD_PAGE_MAINTAIN), fourth page of the advanced
// host: jobs on a whole WIM file — rebuild it (with the same or another
// compression, WIM → ESD and ESD → WIM in one click, its integrity table
// added or removed), verify it or its whole split set, and join a split set
// into one file. Each job runs on the runner with the progress page in the
// host's place; the page then says what came of it (sizes before and
// after, sound or damaged and why).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controls/drag_drop.h"
#include "engine/maintain.h"
#include "pages/form_page.h"

class CPage2_Maintain : public CFormPage {
 public:
  CPage2_Maintain();
  ~CPage2_Maintain() override;

  // The "维护 WIM 文件" jump of other pages: the file becomes the page's file.
  void OpenFile(const std::wstring& path);

  // What the page last said about a finished job.
  std::wstring StatusText() const;

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;

 private:
  enum class Job { kRebuild, kVerify, kJoin };
  class JobDisplay;

  void ReadFields();
  void PickFile();
  void PickJoinTarget();
  void UpdateVerifyState();
  // The compression chosen in the list (kKeepCompression for "保持不变").
  int ChosenCompression() const;
  IntegrityChoice ChosenIntegrity() const;

  void OnRebuild(int compression);
  void OnVerify();
  void OnJoin();
  bool CheckRebuild();
  bool CheckJoin(bool& replace);
  // Runs `body` on the runner, with the progress page in the host's place;
  // the page tells the outcome once it has ended.
  void Run(Job job, const std::wstring& file, std::function<EngineResult(const OperationContext&)> body);
  void JobEnded(const OperationOutcome& outcome);

  CDropTargetEdit fileEdit_;
  CDropTargetEdit joinEdit_;
  std::wstring file_;
  std::wstring joinTarget_;
  // The job under way: its kind, file and the file's size when it began.
  Job job_ = Job::kRebuild;
  std::wstring jobFile_;
  uint64_t sizeBefore_ = 0;
  std::unique_ptr<JobDisplay> display_;
};
