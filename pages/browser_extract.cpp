#include "pages/browser_extract.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include "win/messages.h"
#include "win/handles.h"
#include "controls/progress_ctrl.h"
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/engine.h"
#include "resources/ids_browser.h"
#include "resources/resource.h"
#include "win/long_path.h"
#include "win/paths.h"
#include "win/message_box.h"
#include "win/strings.h"
#include "win/window_thread.h"

namespace {
constexpr wchar_t kOpenFolderPrefix[] = L"QuarryOpen-";

std::atomic<int> g_openWorkers{0};
std::atomic<unsigned> g_folderCounter{0};

// The extract-and-open folders made by this process, removed at its exit.
std::mutex g_ownFoldersLock;
std::vector<std::wstring> g_ownFolders;

void RememberOwnFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> hold(g_ownFoldersLock);
  g_ownFolders.push_back(folder);
}

void ForgetOwnFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> hold(g_ownFoldersLock);
  g_ownFolders.erase(std::remove(g_ownFolders.begin(), g_ownFolders.end(), folder), g_ownFolders.end());
}

// True while a process of that id runs (or cannot be asked about).
bool ProcessRuns(DWORD pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  return !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
}

struct OpenJob {
  ExtractJob job;
  std::wstring fileName;
};

bool ExtractAndLaunch(const OpenJob& open) {
  if (ExtractSelection(open.job) != 0) return false;
  ClearFailure();
  std::wstring file = open.job.target + L"\\" + open.fileName;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.lpFile = file.c_str();
  info.nShow = SW_SHOW;
  if (ShellExecuteExW(&info)) return true;
  NoteWin32Failure(GetLastError());
  return false;
}

// The folder stays after a launch: the viewer may read the file at any
// time, and the program the shell started may not be the one that does.
void OpenInWorker(const OpenJob& open) {
  if (!ExtractAndLaunch(open)) {
    DeleteOwnFolder(open.job.target);
    ForgetOwnFolder(open.job.target);
    std::wstring text = FormatStr(LoadStr(IDS_BROWSER_OPEN_FAILED).c_str(), open.fileName.c_str());
    std::wstring reason = FailureText();
    if (!reason.empty()) text += L"\n" + reason;
    AppMessageBox(nullptr, text, L"Quarry", MB_ICONERROR);
  }
  g_openWorkers--;
}
}  // namespace

int ExtractSelection(const ExtractJob& job, ProgressTarget* progress, CancelToken* cancel) {
  if (!job.backends) return kResultNotBound;
  ExtractRequest request;
  request.wimPath = job.wimPath;
  request.image = job.image;
  request.paths = job.paths;
  request.target = job.target;
  BackendChoice wimlib;
  wimlib.backend = kBackendWimlib;
  OperationContext context;  // no host: an extraction shows no message
  context.progress = progress;
  context.cancel = cancel;
  return MakeEngine(*job.backends, wimlib, context)->Extract(request);
}

std::wstring MakeUniqueFolder(const std::wstring& parent) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::wstring folder = JoinPath(parent, FormatStr(L"%s%lu-%lu-%u", kOpenFolderPrefix, GetCurrentProcessId(),
                                                     GetTickCount(), g_folderCounter++));
    if (CreateDirectoryW(LongPathForm(folder).c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return L"";
  }
  return L"";
}

void DeleteOwnFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(LongPathForm(folder + L"\\*").c_str(), &found));
  if (find) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      // Links to elsewhere are removed as links, never followed.
      bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        DeleteOwnFolder(path);
      } else {
        SetFileAttributesW(LongPathForm(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(LongPathForm(path).c_str())) RemoveDirectoryW(LongPathForm(path).c_str());
      }
    } while (FindNextFileW(find.get(), &found));
    find.reset();  // the search holds the folder open
  }
  RemoveDirectoryW(LongPathForm(folder).c_str());
}

bool StartExtractAndOpen(const ExtractJob& job, const std::wstring& tempFolder, const std::wstring& fileName) {
  OpenJob open{job, fileName};
  open.job.target = MakeUniqueFolder(tempFolder);
  if (open.job.target.empty()) return false;
  RememberOwnFolder(open.job.target);
  g_openWorkers++;
  UniqueHandle thread = StartThread([open] { OpenInWorker(open); });
  if (!thread) {
    g_openWorkers--;
    DeleteOwnFolder(open.job.target);
    ForgetOwnFolder(open.job.target);
    return false;
  }
  return true;  // the worker ends on its own
}

void RemoveOwnOpenFolders() {
  std::vector<std::wstring> folders;
  {
    std::lock_guard<std::mutex> hold(g_ownFoldersLock);
    folders.swap(g_ownFolders);
  }
  for (const std::wstring& folder : folders) DeleteOwnFolder(folder);
}

void RemoveLeftoverOpenFolders(const std::wstring& tempFolder) {
  if (tempFolder.empty()) return;
  std::vector<std::wstring> leftovers;
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(LongPathForm(JoinPath(tempFolder, kOpenFolderPrefix + std::wstring(L"*"))).c_str(), &found));
  if (!find) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const wchar_t* digits = found.cFileName + wcslen(kOpenFolderPrefix);
    wchar_t* after = nullptr;
    DWORD pid = wcstoul(digits, &after, 10);
    if (after == digits || *after != L'-') continue;  // not a name of ours
    if (pid != GetCurrentProcessId() && !ProcessRuns(pid)) leftovers.push_back(JoinPath(tempFolder, found.cFileName));
  } while (FindNextFileW(find.get(), &found));
  find.reset();
  for (const std::wstring& folder : leftovers) DeleteOwnFolder(folder);
}

int OpenWorkersRunning() { return g_openWorkers; }

int ExtractWithDialog(HWND owner, const ExtractJob& job, std::wstring* reason) {
  CExtractTipDlg dialog(job);
  dialog.DoModal(owner);
  if (reason) *reason = dialog.failureReason();
  return dialog.extractResult();
}

CExtractTipDlg::CExtractTipDlg(const ExtractJob& job) : Dialog(IDD_EXTRACT_TIP), job_(job) {}

void CExtractTipDlg::SetPercent(float percent) {
  if (!bar_.hwnd()) return;
  bar_.SetMarquee(false);
  bar_.SetPos(percent);
}

void CExtractTipDlg::Work(CExtractTipDlg* dialog) {
  int result = ExtractSelection(dialog->job_, dialog, &dialog->cancel_);
  if (result != 0 && result != kResultAborted) dialog->failureReason_ = FailureText();
  dialog->extractResult_ = result;
  // The dialog stays until it hears this: it has no other way to close.
  PostToWindowThread(dialog->hwnd_, [dialog] { dialog->OnWorkerEnded(); });
}

bool CExtractTipDlg::OnInitDialog() {
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  SetItemText(IDC_EXTRACT_TEXT, titles.size() > 4 ? titles[4] : L"");
  if (bar_.AttachDlgItem(hwnd_, IDC_EXTRACT_BAR)) bar_.StartAnimation();
  thread_ = StartThread([this] { Work(this); });
  if (!thread_) PostToWindowThread(hwnd_, [this] { OnWorkerEnded(); });
  return true;
}

// "中止": asked once; the extraction then stops at its next progress call
// and what it already wrote stays.
void CExtractTipDlg::OnAbort() {
  if (cancel_.Requested() || !thread_) return;
  int answer = AppMessageBox(hwnd_, LoadStr(IDS_ASK_ABORT), LoadStr(IDS_ASK_ABORT_CAPTION), MB_ICONQUESTION | MB_YESNO);
  if (answer == IDYES) {
    cancel_.Request(true);
    EnableWindow(Item(IDC_EXTRACT_ABORT), FALSE);
  }
}

bool CExtractTipDlg::OnCommand(int id, int code, HWND control) {
  if (id != IDC_EXTRACT_ABORT) return Dialog::OnCommand(id, code, control);
  OnAbort();
  return true;
}

void CExtractTipDlg::OnWorkerEnded() {
  // Nothing writes into this window any more.
  if (thread_) {
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
  }
  EndDialog(IDOK);
}

bool CExtractTipDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case UM_PROGRESS_DONE:
      return true;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
