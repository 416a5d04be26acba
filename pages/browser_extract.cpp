#include "pages/browser_extract.h"

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <memory>

#include "controls/messages.h"
#include "controls/progress_ctrl.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
constexpr UINT kMsgWorkerDone = WM_APP + 50;
constexpr DWORD kViewerGraceMs = 1500;
constexpr DWORD kFileReleaseWaitMs = 60000;

std::atomic<int> g_openWorkers{0};
std::atomic<unsigned> g_folderCounter{0};

// True when nobody holds the file open (it can be opened without sharing).
bool FileIsFree(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
  CloseHandle(file);
  return true;
}

struct OpenJob {
  ExtractJob job;
  std::wstring fileName;
};

DWORD WINAPI OpenWorker(void* param) {
  std::unique_ptr<OpenJob> open(static_cast<OpenJob*>(param));
  ExtractSelection(open->job);
  std::wstring file = open->job.target + L"\\" + open->fileName;
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  info.nShow = SW_SHOW;
  // Without a program to wait for, the file stays: deleting it could pull
  // it away from a viewer that is still starting.
  if (ShellExecuteExW(&info) && info.hProcess) {
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    Sleep(kViewerGraceMs);
    DWORD start = GetTickCount();
    while (!FileIsFree(file) && GetTickCount() - start < kFileReleaseWaitMs) Sleep(500);
    if (FileIsFree(file)) DeleteOwnFolder(open->job.target);
  }
  g_openWorkers--;
  return 0;
}
}  // namespace

int ExtractSelection(const ExtractJob& job) {
  const WimlibTable& api = Host().backends.wimlib;
  if (!api.open_wim || !api.extract_paths) return kResultNotBound;
  WimlibWim wim(api);
  int result = api.open_wim(job.wimPath.c_str(), 0, wim.out());
  if (result == 0) {
    if (api.register_progress_function) api.register_progress_function(wim.get(), WimlibProgress, nullptr);
    WimlibEngine().ReferenceSplitParts(wim.get(), job.wimPath);
    std::vector<const wchar_t*> paths;
    for (const std::wstring& path : job.paths) paths.push_back(path.c_str());
    result = api.extract_paths(wim.get(), job.image, job.target.c_str(), paths.data(), paths.size(),
                               WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE);
  }
  ReportProgress(100);
  return result;
}

std::wstring MakeUniqueFolder(const std::wstring& parent) {
  std::wstring base = parent;
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  for (int attempt = 0; attempt < 100; attempt++) {
    std::wstring folder = FormatStr(L"%s\\QuarryOpen-%lu-%lu-%u", base.c_str(), GetCurrentProcessId(), GetTickCount(),
                                    g_folderCounter++);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return L"";
  }
  return L"";
}

void DeleteOwnFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      // Links to elsewhere are removed as links, never followed.
      bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        DeleteOwnFolder(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

bool StartExtractAndOpen(const ExtractJob& job, const std::wstring& tempFolder, const std::wstring& fileName) {
  auto* open = new OpenJob{job, fileName};
  open->job.target = MakeUniqueFolder(tempFolder);
  if (open->job.target.empty()) {
    delete open;
    return false;
  }
  g_openWorkers++;
  HANDLE thread = CreateThread(nullptr, 0, OpenWorker, open, 0, nullptr);
  if (!thread) {
    g_openWorkers--;
    DeleteOwnFolder(open->job.target);
    delete open;
    return false;
  }
  CloseHandle(thread);
  return true;
}

int OpenWorkersRunning() { return g_openWorkers; }

void ExtractWithDialog(HWND owner, const ExtractJob& job) {
  CExtractTipDlg dialog(job);
  dialog.DoModal(owner);
}

CExtractTipDlg::CExtractTipDlg(const ExtractJob& job) : Dialog(IDD_EXTRACT_TIP), job_(job) {}

void CExtractTipDlg::SetPercent(float percent) {
  if (!bar_.hwnd()) return;
  bar_.SetMarquee(false);
  bar_.SetPos(percent);
}

DWORD WINAPI CExtractTipDlg::Worker(void* param) {
  auto* dialog = static_cast<CExtractTipDlg*>(param);
  ExtractSelection(dialog->job_);
  PostMessageW(dialog->hwnd_, kMsgWorkerDone, 0, 0);
  return 0;
}

bool CExtractTipDlg::OnInitDialog() {
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  SetItemText(IDC_EXTRACT_TEXT, titles.size() > 4 ? titles[4] : L"");
  if (bar_.AttachDlgItem(hwnd_, IDC_EXTRACT_BAR)) bar_.StartAnimation();
  previousTarget_ = Host().shellTaskDialog;
  Host().shellTaskDialog = this;
  thread_ = CreateThread(nullptr, 0, Worker, this, 0, nullptr);
  if (!thread_) PostMessageW(hwnd_, kMsgWorkerDone, 0, 0);
  return true;
}

bool CExtractTipDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case kMsgWorkerDone:
      // The worker has ended; nothing writes into this window any more.
      if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
      }
      Host().shellTaskDialog = previousTarget_;
      EndDialog(IDOK);
      return true;
    case UM_PROGRESS_DONE:
      return true;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
