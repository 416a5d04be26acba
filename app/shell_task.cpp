#include "app/shell_task.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cwctype>

#include "pages/shell_task_options.h"
#include "app/quarry_app.h"
#include "pages/shell_task_img_select.h"
#include "pages/skipped_items_dlg.h"
#include "tasks/task_runner.h"
#include "app/shell_task_tip.h"
#include "engine/progress.h"
#include "engine/wim_file_reader.h"
#include "engine/engine.h"
#include "resources/resource.h"
#include "win/paths.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/strings.h"

namespace {

void ShowInvalidPath() { AppMessageBox(nullptr, LoadStr(IDS_INVALID_PATH), L"Quarry", MB_ICONERROR); }

// The operation's result, told only when it is not a success: engines that
// fail without a message of their own (wimlib, a back end not bound) would
// otherwise end silently as if all went well. A WIMGAPI failure has shown
// its own box already and is not told twice.
void ReportFailure(EngineResult result, bool viaWimgapi) {
  if (result == kResultSuccess || result == kResultAborted) return;
  if (viaWimgapi && result == kResultFailed) return;
  AppMessageBox(nullptr, LoadStr(IDS_OP_FAILED), L"Quarry", MB_ICONERROR);
}

// Runs `work` on this thread while CShellTaskTip shows `taskText`; the
// work gets the task's context: the tip's progress and cancel, and the
// application's boxes.
template <typename Work>
EngineResult RunWithTip(CQuarryApp& app, const std::wstring& taskText, Work work) {
  ShellTaskRun run(taskText);
  run.StartDialog();
  OperationContext context;
  context.progress = &run;
  context.cancel = &run.cancel();
  context.host = &app;
  EngineResult result = work(context);
  ReportProgress(&run, 100);
  run.Finish(5000);
  return result;
}

std::wstring TaskText(int part, const std::wstring& from, const std::wstring& to) {
  std::vector<std::wstring> formats = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  std::wstring format = part < static_cast<int>(formats.size()) ? formats[part] : L"%s %s";
  return FormatStr(format.c_str(), LastComponent(from).c_str(), LastComponent(to).c_str());
}

// The target of a capture; false when the user cancelled or it is refused.
bool CaptureTarget(const std::wstring& folder, bool quick, std::wstring& target) {
  if (quick) {
    target = folder + L".WIM";
  } else {
    target = folder + L".WIM";
    if (!AskSaveWimPath(nullptr, target)) return false;
  }
  target = FullPath(target);
  if (IsInsideFolder(target, folder)) {
    ShowInvalidPath();
    return false;
  }
  return true;
}

// True when the target may be written: it does not exist, or the user
// answered Yes to replacing it. Any other answer leaves the file alone.
bool ConfirmReplace(const std::wstring& target) {
  if (!FileExists(target)) return true;
  return AppMessageBox(nullptr, target + LoadStr(IDS_ASK_REPLACE), LoadStr(IDS_ASK_CREATE_CAPTION),
                       MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}
}  // namespace

bool IsDriveRoot(const std::wstring& folder) {
  std::wstring bare = WithoutTrailingSeparator(folder);
  if (bare.empty() || bare.back() == L'\\' || bare.back() == L'/') return true;  // "C:\", "\"
  if (bare.size() == 2 && bare[1] == L':') return true;
  if (bare.compare(0, 2, L"\\\\") == 0) {
    // \\server\share has exactly one separator after the server name.
    std::wstring rest = bare.substr(2);
    return std::count(rest.begin(), rest.end(), L'\\') <= 1;
  }
  return false;
}

void RunShellCapture(const std::wstring& rawFolder, bool quick) {
  std::wstring folder = WithoutTrailingSeparator(FullPath(rawFolder));
  if (rawFolder.empty() || IsDriveRoot(rawFolder) || !IsExistingFolder(folder)) {
    ShowInvalidPath();
    return;
  }
  // The options come first, then the target; a shell capture always makes
  // a new file, never an added image.
  CaptureChoice choice;
  choice.info.name = L"WIM";
  CQuarryApp* app = CQuarryApp::Instance();
  if (!app || !AskCaptureOptions(nullptr, *app, false, folder + L".WIM", choice)) return;
  std::wstring target;
  if (!CaptureTarget(folder, quick, target)) return;
  if (!ConfirmReplace(target)) return;
  const int append = 0;

  const bool wimlib = app->backendKind == kBackendWimlib;
  const BackendChoice backend = app->Choice();
  // A quick capture asks nothing: a file it cannot read is skipped or
  // stops it, as the settings say. Otherwise the user is asked once.
  const bool skipUnreadable = app->settings.skipUnreadable == 1;
  CaptureReport report;
  EngineResult result = RunWithTip(*app, TaskText(0, folder, target), [&](const OperationContext& context) {
    CaptureRequest request;
    request.unreadable = !quick ? UnreadablePolicy::kAsk
                                : skipUnreadable ? UnreadablePolicy::kSkip : UnreadablePolicy::kStop;
    request.ask = AskAboutUnreadable;
    request.report = &report;
    request.source = folder;
    request.wimPath = target;
    request.compression = choice.compression;
    request.append = append == 1;
    request.info = choice.info;
    return MakeEngine(app->backends, backend, context)->Capture(request);
  });
  // What the capture left out, or the file it stopped at, is always told.
  if (result == kResultSuccess && !report.skipped.empty()) {
    ShowSkippedItems(nullptr, report.skipped);
  } else if (result != kResultSuccess && !report.stoppedAt.empty()) {
    AppMessageBox(nullptr, LoadStr(IDS_OP_FAILED) + L"\n" + CaptureReportLine(report), L"Quarry", MB_ICONERROR);
  } else {
    ReportFailure(result, !wimlib);
  }
}

void RunShellApplyOrMount(const std::wstring& wimPath, bool mount) {
  if (wimPath.empty() || !FileExists(wimPath)) {
    ShowInvalidPath();
    return;
  }
  // The WIMGAPI engine fails without a message of its own when it cannot
  // open the file, and its failures are not told twice: a file that is no
  // WIM is told here, before anything starts.
  WimFileReader reader;
  if (!reader.Read(wimPath)) {
    ShowInvalidPath();
    return;
  }
  const int count = static_cast<int>(reader.ImageCount());
  int image = 1;
  bool writable = false;
  if (count < 2) {
    if (count == 1 && mount)
      writable = AppMessageBox(nullptr, LoadStr(IDS_ASK_MOUNT_WRITABLE), L"Quarry", MB_YESNO | MB_ICONQUESTION) == IDYES;
  } else {
    CShellTaskImgSelectDlg chooser(wimPath, mount);
    if (chooser.DoModal(nullptr) != IDOK) return;
    image = chooser.image();
    writable = chooser.writable();
  }
  CQuarryApp* app = CQuarryApp::Instance();
  if (!app) return;
  const bool wimlib = app->backendKind == kBackendWimlib;
  // wimlib cannot mount on Windows: offer WIMGAPI instead of doing nothing.
  if (mount && wimlib &&
      AppMessageBox(nullptr, LoadStr(IDS_WIMLIB_NO_MOUNT), L"Quarry", MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return;
  std::wstring folder = PickFolder(nullptr, app->settings.lastFolder);
  if (folder.empty()) return;

  // Only WIMGAPI mounts.
  const BackendChoice backend = app->Choice(mount ? kBackendWimgapi : app->backendKind);
  EngineResult result = RunWithTip(*app, TaskText(mount ? 2 : 1, wimPath, folder), [&](const OperationContext& context) {
    std::unique_ptr<Engine> engine = MakeEngine(app->backends, backend, context);
    if (mount) return engine->Mount({wimPath, folder, image, false, false, writable});
    return engine->Apply({wimPath, folder, image, false, false});
  });
  ReportFailure(result, mount || !wimlib);
}
