#include "pages/page2_split.h"

#include <memory>

#include "win/messages.h"
#include "engine/mount_guard.h"
#include "engine/split_parts.h"
#include "engine/wim_file_reader.h"
#include "engine/engine.h"
#include "pages/page2_common.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
const wchar_t* const kUnitNames[3] = {L"KB", L"MB", L"GB"};
const uint64_t kUnitBytes[3] = {1ull << 10, 1ull << 20, 1ull << 30};
// The header version of files whose resources are solid (ESD files).
constexpr uint32_t kSolidVersion = 0xE00;
constexpr int kFat32PartMegabytes = 4095;  // below FAT32's largest file, 4 GB - 1
constexpr int kCompressionLzx = 2;

}  // namespace

CPage2_Split::CPage2_Split() : CFormPage(IDD_PAGE_SPLIT) {}

void CPage2_Split::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  sourceEdit_.AttachDlgItem(hwnd_, IDC_SPLIT_SOURCE);
  targetEdit_.AttachDlgItem(hwnd_, IDC_SPLIT_TARGET);
  unitButton_.AttachDlgItem(hwnd_, IDC_SPLIT_UNIT);
  unitButton_.SetTextMode(true);
  SetItemText(IDC_SPLIT_SIZE, sizeText_);
  SetItemText(IDC_SPLIT_UNIT, kUnitNames[unit_]);
  ShowWarning(false);
}

void CPage2_Split::ReadFields() {
  source_ = ItemText(IDC_SPLIT_SOURCE);
  target_ = ItemText(IDC_SPLIT_TARGET);
  sizeText_ = ItemText(IDC_SPLIT_SIZE);
}

void CPage2_Split::ShowWarning(bool show) {
  ShowWindow(Item(IDC_SPLIT_WARNING), show ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_SPLIT_WARNING_ICON), show ? SW_SHOW : SW_HIDE);
}

void CPage2_Split::OpenSource(const std::wstring& path) {
  SetItemText(IDC_SPLIT_SOURCE, path);
  ReadFields();
  OnEditDropped();
}

void CPage2_Split::PickSource() {
  std::wstring path = PickWimFile(MainWindow(), false);
  if (path.empty()) return;
  SetItemText(IDC_SPLIT_SOURCE, path);
  ReadFields();
  WimFileReader reader;
  ShowWarning(!reader.Read(path));
}

void CPage2_Split::PickTarget() {
  std::wstring path = PickWimFile(MainWindow(), true);
  if (path.empty()) return;
  SetItemText(IDC_SPLIT_TARGET, path);
  ReadFields();
}

// A dropped path is judged by its name only: a folder or a name without
// ".wim" at the end shows the warning.
void CPage2_Split::OnEditDropped() {
  ReadFields();
  if (IsExistingFolder(source_)) ShowWarning(true);
  else ShowWarning(!HasExtension(source_, L".wim"));
}

void CPage2_Split::NextUnit() {
  FocusMainWindow();
  unit_ = (unit_ + 1) % 3;
  SetItemText(IDC_SPLIT_UNIT, kUnitNames[unit_]);
  InvalidateRect(Item(IDC_SPLIT_UNIT), nullptr, TRUE);
}

CPage2_Split::SizeCheck CPage2_Split::PartSizeBytes(const std::wstring& text, int unit, uint64_t& bytes) {
  bytes = 0;
  size_t first = text.find_first_not_of(L' ');
  size_t last = text.find_last_not_of(L' ');
  if (first == std::wstring::npos || unit < 0 || unit > 2) return kSizeNotPositive;
  uint64_t value = 0;
  for (size_t i = first; i <= last; i++) {
    wchar_t c = text[i];
    if (c < L'0' || c > L'9') return kSizeNotPositive;
    uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return kSizeTooLarge;
    value = value * 10 + digit;
  }
  if (value == 0) return kSizeNotPositive;
  if (value > UINT64_MAX / kUnitBytes[unit]) return kSizeTooLarge;
  bytes = value * kUnitBytes[unit];
  return kSizeOk;
}

bool CPage2_Split::HasSolidResources(const std::wstring& path) {
  WimFileReader reader;
  return reader.Read(path) && reader.Version() == kSolidVersion;
}

// A part of a split set is not split again. WIMGAPI's attributes tell it
// when the library is there; otherwise the file's own header does.
bool CPage2_Split::IsAlreadySplit() const {
  int parts = 1;
  EngineResult read = MakeEngine(bench_->backends, bench_->Choice(kBackendWimgapi))->ReadPartCount(source_, parts);
  if (read != kResultNotBound) return read == kResultSuccess && parts != 1;
  WimFileReader reader;
  return reader.Read(source_) && reader.TotalParts() != 1;
}

void CPage2_Split::UseFat32Preset() {
  FocusMainWindow();
  unit_ = kMB;
  SetItemText(IDC_SPLIT_UNIT, kUnitNames[unit_]);
  InvalidateRect(Item(IDC_SPLIT_UNIT), nullptr, TRUE);
  SetItemText(IDC_SPLIT_SIZE, std::to_wstring(kFat32PartMegabytes));
  ReadFields();
}

bool CPage2_Split::OfferConversion(std::wstring& converted) {
  std::wstring folder = bench_->tempFolder;
  if (folder.empty()) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    folder = temp;
  }
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  // An LZX file of the same data is about up to twice the solid one.
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(source_.c_str(), GetFileExInfoStandard, &data);
  const uint64_t needed = 2 * ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  std::wstring neededText = FormatStr(L"%.1f MB", static_cast<double>(needed) / (1024.0 * 1024.0));
  std::wstring question = LoadFilledStr(IDS_SPLIT_CONVERT_FIRST, {folder, neededText});
  if (PageMessage(question, LoadStr(IDS_ASK_CREATE_CAPTION), MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  ULARGE_INTEGER available = {};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) || available.QuadPart < needed) {
    std::wstring freeText = FormatStr(L"%.1f MB", static_cast<double>(available.QuadPart) / (1024.0 * 1024.0));
    PageMessage(LoadFilledStr(IDS_SPLIT_NO_SPACE, {folder, neededText, freeText}), L"", MB_ICONEXCLAMATION);
    return false;
  }
  converted = folder + FormatStr(L"QuarrySplit-%lu-%lu.wim", GetCurrentProcessId(), GetTickCount());
  return true;
}

bool CPage2_Split::CheckBeforeSplit(uint64_t& bytes, std::vector<std::wstring>& existingParts,
                                    std::wstring& converted) {
  if (!HasExtension(target_, L".wim") || !FileExists(source_)) {
    PageMessage(LoadStr(IDS_INVALID_PATH), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (SamePath(source_, target_) || SameFile(source_, target_)) {
    PageMessage(LoadStr(IDS_SPLIT_SAME_FILE), L"", MB_ICONEXCLAMATION);
    return false;
  }
  SizeCheck size = PartSizeBytes(sizeText_, unit_, bytes);
  if (size != kSizeOk) {
    PageMessage(LoadStr(size == kSizeTooLarge ? IDS_SPLIT_SIZE_TOO_BIG : IDS_ENTER_POSITIVE_INT), L"",
                MB_ICONEXCLAMATION);
    SetFocus(Item(IDC_SPLIT_SIZE));
    return false;
  }
  if (IsAlreadySplit()) {
    PageMessage(LoadStr(IDS_ALREADY_SPLIT), L"", MB_ICONEXCLAMATION);
    return false;
  }
  existingParts = ExistingSplitParts(target_);
  std::vector<std::wstring> written = existingParts;
  written.push_back(target_);
  std::wstring mounted;
  std::wstring folder = MountFolderOfAny(bench_->backends, written, &mounted);
  if (!folder.empty()) {
    PageMessage(MountedRefusalText(mounted, folder), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (!CheckExistingParts(existingParts)) return false;
  return !HasSolidResources(source_) || OfferConversion(converted);
}

// Every existing file of the part names: none may be the source (a later
// part can be, "img2.wim" for a target "img.wim"); the others are named in
// one question before anything is written.
bool CPage2_Split::CheckExistingParts(const std::vector<std::wstring>& parts) {
  for (const std::wstring& part : parts) {
    if (SameFile(part, source_)) {
      PageMessage(FormatStr(LoadStr(IDS_SPLIT_PART_IS_SOURCE).c_str(), part.c_str()), L"", MB_ICONEXCLAMATION);
      return false;
    }
  }
  if (parts.empty()) return true;
  if (parts.size() == 1 && parts[0] == target_)
    return AskAboutPath(target_, IDS_ASK_REPLACE, IDS_ASK_CREATE_CAPTION, MB_ICONEXCLAMATION);
  std::wstring names;
  for (const std::wstring& part : parts) names += part + L"\n";
  names.pop_back();
  std::wstring question = FormatStr(LoadStr(IDS_SPLIT_ASK_REPLACE_PARTS).c_str(), names.c_str());
  return PageMessage(question, LoadStr(IDS_ASK_CREATE_CAPTION), MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

void CPage2_Split::OnSplit() {
  if (RefuseWhileQueueRuns(hwnd_)) return;
  FocusMainWindow();
  if (!IsVisible()) return;
  ReadFields();
  uint64_t bytes = 0;
  std::vector<std::wstring> existingParts;
  std::wstring converted;
  if (!CheckBeforeSplit(bytes, existingParts, converted)) return;

  SplitRequest request{converted.empty() ? source_ : converted, target_, bytes, existingParts};
  RebuildRequest conversion{source_, kCompressionLzx, IntegrityChoice::kKeep, converted};
  Operation split;
  split.display = bench_->ProgressView();
  split.body = [backends = &bench_->backends, choice = bench_->Choice(), request,
                conversion](const OperationContext& context) {
    if (conversion.target.empty()) return OperationOutcome{MakeEngine(*backends, choice, context)->Split(request)};
    // The converted copy goes again whatever became of the split.
    EngineResult result = MakeEngine(*backends, choice, context)->Rebuild(conversion);
    if (result == kResultSuccess) result = MakeEngine(*backends, choice, context)->Split(request);
    DeleteFileW(conversion.target.c_str());
    return OperationOutcome{result};
  };
  HWND host = GetParent(hwnd_);
  ShowWindow(host, SW_HIDE);
  if (!StartOperation(std::move(split))) ShowWindow(host, SW_SHOW);
}

bool CPage2_Split::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_SPLIT_PICK_SOURCE:
      if (code == BN_CLICKED) PickSource();
      return true;
    case IDC_SPLIT_PICK_TARGET:
      if (code == BN_CLICKED) PickTarget();
      return true;
    case IDC_SPLIT_UNIT:
      if (code == BN_CLICKED) NextUnit();
      return true;
    case IDC_SPLIT_FAT32:
      if (code == BN_CLICKED) UseFat32Preset();
      return true;
    case IDC_SPLIT_START:
      if (code == BN_CLICKED) OnSplit();
      return true;
    case IDC_SPLIT_SOURCE:
    case IDC_SPLIT_TARGET:
    case IDC_SPLIT_SIZE:
      if (code == EN_CHANGE) ReadFields();
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage2_Split::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == UM_EDIT_DROPPED) {
    OnEditDropped();
    return true;
  }
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage2_Split::Layout(int w, int h) {
  const int right = w - 125;
  const int rows[2][3] = {{IDC_SPLIT_SOURCE_LABEL, IDC_SPLIT_SOURCE, IDC_SPLIT_PICK_SOURCE},
                          {IDC_SPLIT_TARGET_LABEL, IDC_SPLIT_TARGET, IDC_SPLIT_PICK_TARGET}};
  int y = 33;
  for (const auto& row : rows) {
    MoveItem(Item(row[0]), 15, y + 3, 70, 20);
    MoveItem(Item(row[1]), 90, y, right > 90 ? right - 90 : 0, 23);
    MoveItem(Item(row[2]), w - 110, y - 1, 95, 25);
    y += 40;
  }
  MoveItem(Item(IDC_SPLIT_SIZE_LABEL), 15, y + 3, 70, 20);
  MoveItem(Item(IDC_SPLIT_SIZE), 90, y, 110, 23);
  MoveItem(Item(IDC_SPLIT_UNIT), 204, y, 23, 23);
  MoveItem(Item(IDC_SPLIT_UNIT_HINT), 235, y + 3, 160, 20);
  MoveItem(Item(IDC_SPLIT_FAT32), 405, y - 1, 200, 25);
  MoveItem(Item(IDC_SPLIT_START), w - 110, h - 40, 95, 25);
  const int warningX = w - 110 - 20 - 350;
  MoveItem(Item(IDC_SPLIT_WARNING), warningX, h - 36, 350, 20);
  MoveItem(Item(IDC_SPLIT_WARNING_ICON), warningX - 10 - 16, h - 36, 16, 16);
  CFormPage::Layout(w, h);
}
