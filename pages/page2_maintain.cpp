#include "pages/page2_maintain.h"

#include "engine/engine.h"
#include "engine/mount_guard.h"
#include "engine/split_parts.h"
#include "engine/wim_file_reader.h"
#include "pages/page2_common.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "win/long_path.h"
#include "win/messages.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
// The compressions of the list, in its order (IDS_MAINTAIN_COMPRESSIONS).
const int kCompressions[5] = {kKeepCompression, 0, 1, 2, 3};
const IntegrityChoice kIntegrity[3] = {IntegrityChoice::kKeep, IntegrityChoice::kAdd, IntegrityChoice::kRemove};
constexpr int kCompressionLzx = 2;
constexpr int kCompressionSolid = 3;

uint64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(LongPathForm(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// "12,345,678 字节 (11.8 MB)"
std::wstring SizeText(uint64_t bytes) {
  std::wstring digits = std::to_wstring(bytes);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), L",");
  double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  return FormatStr(L"%ls 字节 (%.1f MB)", digits.c_str(), mb);
}

void FillCombo(HWND combo, UINT listId) {
  for (const std::wstring& item : SplitFields(LoadStr(listId)))
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
}
}  // namespace

// The progress page as the display of the page's jobs; once the progress
// page has shown the end, the page says what came of the job.
class CPage2_Maintain::JobDisplay : public OperationDisplay {
 public:
  JobDisplay(CPage2_Maintain& page, OperationDisplay& inner) : page_(page), inner_(inner) {}
  HWND Hwnd() const override { return inner_.Hwnd(); }
  void SetPercent(float percent) override { inner_.SetPercent(percent); }
  void SetStatusText(const std::wstring& text) override { inner_.SetStatusText(text); }
  void OperationBegun(const std::wstring& title) override { inner_.OperationBegun(title); }
  void OperationEnded(const OperationOutcome& outcome) override {
    inner_.OperationEnded(outcome);
    page_.JobEnded(outcome);
  }

 private:
  CPage2_Maintain& page_;
  OperationDisplay& inner_;
};

CPage2_Maintain::CPage2_Maintain() : CFormPage(IDD_PAGE_MAINTAIN) {}
CPage2_Maintain::~CPage2_Maintain() = default;

void CPage2_Maintain::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  fileEdit_.AttachDlgItem(hwnd_, IDC_MAINTAIN_FILE);
  joinEdit_.AttachDlgItem(hwnd_, IDC_MAINTAIN_JOIN_TARGET);
  FillCombo(Item(IDC_MAINTAIN_COMPRESSION), IDS_MAINTAIN_COMPRESSIONS);
  FillCombo(Item(IDC_MAINTAIN_INTEGRITY), IDS_MAINTAIN_INTEGRITY_CHOICES);
  UpdateVerifyState();
}

std::wstring CPage2_Maintain::StatusText() const { return ItemText(IDC_MAINTAIN_STATUS); }

void CPage2_Maintain::ReadFields() {
  file_ = ItemText(IDC_MAINTAIN_FILE);
  joinTarget_ = ItemText(IDC_MAINTAIN_JOIN_TARGET);
}

// Verification is wimlib's: without the library the button is greyed and
// the page says why.
void CPage2_Maintain::UpdateVerifyState() {
  bool wimlib = bench_ && bench_->backends.WimlibAvailable();
  EnableWindow(Item(IDC_MAINTAIN_VERIFY), wimlib ? TRUE : FALSE);
  SetItemText(IDC_MAINTAIN_VERIFY_NOTE, wimlib ? std::wstring() : LoadStr(IDS_MAINTAIN_NEEDS_WIMLIB));
}

void CPage2_Maintain::OpenFile(const std::wstring& path) {
  SetItemText(IDC_MAINTAIN_FILE, path);
  ReadFields();
}

void CPage2_Maintain::PickFile() {
  std::wstring path = PickWimFile(MainWindow(), false);
  if (!path.empty()) OpenFile(path);
}

void CPage2_Maintain::PickJoinTarget() {
  std::wstring path = PickWimFile(MainWindow(), true);
  if (path.empty()) return;
  SetItemText(IDC_MAINTAIN_JOIN_TARGET, path);
  ReadFields();
}

int CPage2_Maintain::ChosenCompression() const {
  LRESULT at = SendMessageW(Item(IDC_MAINTAIN_COMPRESSION), CB_GETCURSEL, 0, 0);
  return at >= 0 && at < 5 ? kCompressions[at] : kKeepCompression;
}

IntegrityChoice CPage2_Maintain::ChosenIntegrity() const {
  LRESULT at = SendMessageW(Item(IDC_MAINTAIN_INTEGRITY), CB_GETCURSEL, 0, 0);
  return at >= 0 && at < 3 ? kIntegrity[at] : IntegrityChoice::kKeep;
}

// What is refused before anything starts: no file, a part of a split set,
// a read-only file, a file with a mounted image.
bool CPage2_Maintain::CheckRebuild() {
  if (file_.empty() || !FileExists(file_)) {
    PageMessage(LoadStr(file_.empty() ? IDS_MAINTAIN_NO_FILE : IDS_INVALID_PATH), L"", MB_ICONEXCLAMATION);
    return false;
  }
  WimFileReader reader;
  if (reader.Read(file_) && reader.TotalParts() != 1) {
    PageMessage(LoadStr(IDS_MAINTAIN_SPLIT_PART), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (IsReadOnlyFile(file_)) {
    PageMessage(LoadStr(IDS_MAINTAIN_READ_ONLY), L"", MB_ICONEXCLAMATION);
    return false;
  }
  std::wstring folder = MountFolderOf(bench_->backends, file_);
  if (!folder.empty()) {
    PageMessage(MountedRefusalText(file_, folder), L"", MB_ICONEXCLAMATION);
    return false;
  }
  return true;
}

void CPage2_Maintain::OnRebuild(int compression) {
  if (RefuseWhileQueueRuns(hwnd_)) return;
  FocusMainWindow();
  if (!IsVisible()) return;
  ReadFields();
  if (!CheckRebuild()) return;
  RebuildRequest request{file_, compression, ChosenIntegrity()};
  Run(Job::kRebuild, file_,
      [backends = &bench_->backends, choice = bench_->Choice(), request](const OperationContext& context) {
        return MakeEngine(*backends, choice, context)->Rebuild(request);
      });
}

void CPage2_Maintain::OnVerify() {
  if (RefuseWhileQueueRuns(hwnd_)) return;
  FocusMainWindow();
  if (!IsVisible()) return;
  ReadFields();
  if (!bench_->backends.WimlibAvailable()) return;
  if (file_.empty() || !FileExists(file_)) {
    PageMessage(LoadStr(file_.empty() ? IDS_MAINTAIN_NO_FILE : IDS_INVALID_PATH), L"", MB_ICONEXCLAMATION);
    return;
  }
  VerifyRequest request{file_};
  Run(Job::kVerify, file_,
      [backends = &bench_->backends, choice = bench_->Choice(kBackendWimlib), request](const OperationContext& context) {
        return MakeEngine(*backends, choice, context)->Verify(request);
      });
}

// The join's target is a new ".wim" file outside the set; an existing one
// is replaced only when the user agrees.
bool CPage2_Maintain::CheckJoin(bool& replace) {
  replace = false;
  if (file_.empty() || !FileExists(file_)) {
    PageMessage(LoadStr(file_.empty() ? IDS_MAINTAIN_NO_FILE : IDS_INVALID_PATH), L"", MB_ICONEXCLAMATION);
    return false;
  }
  WimFileReader reader;
  if (!reader.Read(file_) || reader.TotalParts() < 2 || reader.PartNumber() != 1) {
    PageMessage(LoadStr(IDS_MAINTAIN_NOT_FIRST_PART), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (!HasExtension(joinTarget_, L".wim") || IsExistingFolder(joinTarget_)) {
    PageMessage(LoadStr(IDS_INVALID_PATH), L"", MB_ICONEXCLAMATION);
    SetFocus(Item(IDC_MAINTAIN_JOIN_TARGET));
    return false;
  }
  for (int part = 1; part <= reader.TotalParts(); part++) {
    std::wstring name = part == 1 ? file_ : SplitPartPath(file_, part);
    if (SamePath(name, joinTarget_) || SameFile(name, joinTarget_)) {
      PageMessage(LoadStr(IDS_MAINTAIN_JOIN_INTO_SET), L"", MB_ICONEXCLAMATION);
      return false;
    }
  }
  std::wstring folder = MountFolderOf(bench_->backends, joinTarget_);
  if (!folder.empty()) {
    PageMessage(MountedRefusalText(joinTarget_, folder), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (PathExists(joinTarget_)) {
    if (!AskAboutPath(joinTarget_, IDS_ASK_REPLACE, IDS_ASK_CREATE_CAPTION, MB_ICONEXCLAMATION)) return false;
    replace = true;
  }
  return true;
}

void CPage2_Maintain::OnJoin() {
  if (RefuseWhileQueueRuns(hwnd_)) return;
  FocusMainWindow();
  if (!IsVisible()) return;
  ReadFields();
  bool replace = false;
  if (!CheckJoin(replace)) return;
  JoinRequest request{file_, joinTarget_, replace};
  Run(Job::kJoin, joinTarget_,
      [backends = &bench_->backends, choice = bench_->Choice(), request](const OperationContext& context) {
        return MakeEngine(*backends, choice, context)->Join(request);
      });
}

void CPage2_Maintain::Run(Job job, const std::wstring& file,
                          std::function<EngineResult(const OperationContext&)> body) {
  OperationDisplay* progress = bench_->ProgressView();
  // The display of a job still under way stays as it is.
  if (!progress || runner_->Busy()) return;
  display_ = std::make_unique<JobDisplay>(*this, *progress);
  job_ = job;
  jobFile_ = file;
  sizeBefore_ = SizeOf(file);
  SetItemText(IDC_MAINTAIN_STATUS, L"");
  Operation operation;
  operation.display = display_.get();
  operation.body = [body = std::move(body)](const OperationContext& context) {
    return OperationOutcome{body(context)};
  };
  HWND host = GetParent(hwnd_);
  ShowWindow(host, SW_HIDE);
  if (!StartOperation(std::move(operation))) ShowWindow(host, SW_SHOW);
}

void CPage2_Maintain::JobEnded(const OperationOutcome& outcome) {
  std::wstring text;
  if (outcome.result == kResultAborted) {
    text = LoadFilledStr(IDS_MAINTAIN_CANCELLED, {jobFile_});
  } else if (outcome.result != kResultSuccess) {
    UINT id = job_ == Job::kVerify ? IDS_MAINTAIN_DAMAGED : IDS_MAINTAIN_NOT_DONE;
    text = LoadFilledStr(id, {jobFile_, outcome.reason});
  } else if (job_ == Job::kRebuild) {
    text = LoadFilledStr(IDS_MAINTAIN_REBUILT, {jobFile_, SizeText(sizeBefore_), SizeText(SizeOf(jobFile_))});
  } else if (job_ == Job::kVerify) {
    text = LoadFilledStr(IDS_MAINTAIN_SOUND, {jobFile_});
  } else {
    text = LoadFilledStr(IDS_MAINTAIN_JOINED, {jobFile_, SizeText(SizeOf(jobFile_))});
  }
  SetItemText(IDC_MAINTAIN_STATUS, text);
}

bool CPage2_Maintain::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_MAINTAIN_PICK_FILE:
      if (code == BN_CLICKED) PickFile();
      return true;
    case IDC_MAINTAIN_PICK_JOIN:
      if (code == BN_CLICKED) PickJoinTarget();
      return true;
    case IDC_MAINTAIN_REBUILD:
      if (code == BN_CLICKED) OnRebuild(ChosenCompression());
      return true;
    case IDC_MAINTAIN_TO_ESD:
      if (code == BN_CLICKED) OnRebuild(kCompressionSolid);
      return true;
    case IDC_MAINTAIN_TO_WIM:
      if (code == BN_CLICKED) OnRebuild(kCompressionLzx);
      return true;
    case IDC_MAINTAIN_VERIFY:
      if (code == BN_CLICKED) OnVerify();
      return true;
    case IDC_MAINTAIN_JOIN:
      if (code == BN_CLICKED) OnJoin();
      return true;
    case IDC_MAINTAIN_FILE:
    case IDC_MAINTAIN_JOIN_TARGET:
      if (code == EN_CHANGE) ReadFields();
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage2_Maintain::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == UM_EDIT_DROPPED) {
    ReadFields();
    return true;
  }
  if (msg == WM_SHOWWINDOW && wParam) UpdateVerifyState();
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage2_Maintain::Layout(int w, int h) {
  const int right = w - 125;
  int y = 33;
  MoveItem(Item(IDC_MAINTAIN_FILE_LABEL), 15, y + 3, 70, 20);
  MoveItem(Item(IDC_MAINTAIN_FILE), 90, y, right > 90 ? right - 90 : 0, 23);
  MoveItem(Item(IDC_MAINTAIN_PICK_FILE), w - 110, y - 1, 95, 25);

  y += 40;
  MoveItem(Item(IDC_MAINTAIN_REBUILD_GROUP), 10, y, w - 20, 62);
  y += 24;
  MoveItem(Item(IDC_MAINTAIN_COMPRESSION_LABEL), 20, y + 3, 65, 20);
  MoveItem(Item(IDC_MAINTAIN_COMPRESSION), 90, y, 150, 200);
  MoveItem(Item(IDC_MAINTAIN_INTEGRITY_LABEL), 255, y + 3, 60, 20);
  MoveItem(Item(IDC_MAINTAIN_INTEGRITY), 320, y, 100, 200);
  MoveItem(Item(IDC_MAINTAIN_REBUILD), 435, y - 1, 80, 25);
  MoveItem(Item(IDC_MAINTAIN_TO_ESD), w - 220, y - 1, 100, 25);
  MoveItem(Item(IDC_MAINTAIN_TO_WIM), w - 115, y - 1, 100, 25);

  y += 48;
  MoveItem(Item(IDC_MAINTAIN_CHECK_GROUP), 10, y, w - 20, 56);
  y += 22;
  MoveItem(Item(IDC_MAINTAIN_VERIFY), 20, y - 1, 80, 25);
  MoveItem(Item(IDC_MAINTAIN_VERIFY_NOTE), 110, y + 3, w - 140, 20);

  y += 42;
  MoveItem(Item(IDC_MAINTAIN_JOIN_GROUP), 10, y, w - 20, 56);
  y += 22;
  MoveItem(Item(IDC_MAINTAIN_JOIN_LABEL), 20, y + 3, 65, 20);
  MoveItem(Item(IDC_MAINTAIN_JOIN_TARGET), 90, y, w - 320 > 0 ? w - 320 : 0, 23);
  MoveItem(Item(IDC_MAINTAIN_PICK_JOIN), w - 220, y - 1, 100, 25);
  MoveItem(Item(IDC_MAINTAIN_JOIN), w - 115, y - 1, 100, 25);

  y += 44;
  int statusHeight = h - 70 - y;
  MoveItem(Item(IDC_MAINTAIN_STATUS), 15, y, w - 30, statusHeight > 0 ? statusHeight : 0);
  CFormPage::Layout(w, h);
}
