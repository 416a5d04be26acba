#include "pages/edit_info_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>

#include "engine/image_xml.h"
#include "pages/page2_common.h"
#include "resources/ids_properties.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"

const wchar_t* const CEditInfoDlg::kEditions[10] = {
    L"None",          L"Business",         L"Enterprise",     L"HomeBasic", L"HomePremium",
    L"ServerDatacenter", L"ServerEnterprise", L"ServerStandard", L"Starter",   L"WindowsPE"};

const wchar_t* const CEditInfoDlg::kEditionId = L"WINDOWS/EDITIONID";
const wchar_t* const CEditInfoDlg::kInstallationType = L"WINDOWS/INSTALLATIONTYPE";
const wchar_t* const CEditInfoDlg::kProductType = L"WINDOWS/PRODUCTTYPE";
const wchar_t* const CEditInfoDlg::kArchitecture = L"WINDOWS/ARCH";
const wchar_t* const CEditInfoDlg::kVersionParts[4] = {L"WINDOWS/VERSION/MAJOR", L"WINDOWS/VERSION/MINOR",
                                                      L"WINDOWS/VERSION/BUILD", L"WINDOWS/VERSION/SPBUILD"};
const wchar_t* const CEditInfoDlg::kLanguage = L"WINDOWS/LANGUAGES/LANGUAGE";
const wchar_t* const CEditInfoDlg::kDefaultLanguage = L"WINDOWS/LANGUAGES/DEFAULT";

namespace {

// The elements the six fields of the dialog stand for.
const wchar_t* const kMainPaths[] = {L"NAME", L"DESCRIPTION", L"DISPLAYNAME", L"DISPLAYDESCRIPTION", L"FLAGS"};

struct Architecture {
  const wchar_t* number;
  const wchar_t* name;
};
const Architecture kArchitectures[] = {{L"", L""}, {L"0", L"x86"}, {L"5", L"ARM"}, {L"9", L"x64"}, {L"12", L"ARM64"}};

enum { kColumnPath, kColumnValue, kColumnMark };

std::wstring Trimmed(const std::wstring& text) {
  size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(L" \t");
  return text.substr(first, last - first + 1);
}

std::vector<std::wstring> ValuesOf(const std::vector<ImageProperty>& list, const std::wstring& path) {
  std::vector<std::wstring> values;
  for (const ImageProperty& p : list)
    if (p.path == path) values.push_back(p.value);
  return values;
}

bool IsNumber(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// One path lies inside the other ("A" and "A/B"): they cannot both hold text.
bool Nested(const std::wstring& a, const std::wstring& b) {
  return (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == L'/') ||
         (b.size() > a.size() && b.compare(0, a.size(), a) == 0 && b[a.size()] == L'/');
}

}  // namespace

CEditInfoDlg::CEditInfoDlg() : Dialog(IDD_EDIT_PROPERTIES) {}

bool CEditInfoDlg::Undefined(const std::wstring& value) { return UndefinedValue(value); }

void CEditInfoDlg::FillEditions() {
  for (int i = 0; i < 10; i++) {
    COMBOBOXEXITEMW item = {};
    item.mask = CBEIF_TEXT;
    item.iItem = i;
    item.pszText = const_cast<wchar_t*>(kEditions[i]);
    SendMessageW(Editions(), CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

bool CEditInfoDlg::OnInitDialog() {
  // Filling one edit reports a change that reads all four back: the
  // fields must not be read while the others are still empty.
  filling_ = true;
  SetItemText(IDC_EDIT_NAME, name);
  SetItemText(IDC_EDIT_DESCRIPTION, description);
  SetItemText(IDC_EDIT_DISPLAY_NAME, displayName);
  SetItemText(IDC_EDIT_DISPLAY_DESC, displayDescription);
  FillWindowsFields();
  filling_ = false;
  FillEditions();
  if (flags.empty()) flags = kEditions[0];
  int selected = -1;
  for (int i = 0; i < 10 && selected < 0; i++)
    if (EqualNoCase(flags, kEditions[i])) selected = i;
  SendMessageW(Editions(), CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  CheckDlgButton(hwnd_, IDC_EDIT_BOOT, boot ? BST_CHECKED : BST_UNCHECKED);

  HWND list = Item(IDC_PROPS_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  std::vector<std::wstring> headings = SplitFields(LoadStr(IDS_PROPS_COLUMNS));
  headings.resize(3);
  InsertListColumn(list, kColumnPath, headings[0], LVCFMT_LEFT, 300);
  InsertListColumn(list, kColumnValue, headings[1], LVCFMT_LEFT, 330);
  InsertListColumn(list, kColumnMark, headings[2], LVCFMT_LEFT, 80);
  for (const ImageProperty& p : properties)
    if (!IsFixedPath(p.path)) rows_.push_back(p);
  FillRows();
  ShowUndefined();
  return true;
}

void CEditInfoDlg::FillWindowsFields() {
  fields_ = {{IDC_PROPS_EDITION, kEditionId, L""},
             {IDC_PROPS_INSTALLATION, kInstallationType, L""},
             {IDC_PROPS_PRODUCT, kProductType, L""},
             {IDC_PROPS_ARCH, kArchitecture, L""},
             {IDC_PROPS_MAJOR, kVersionParts[0], L""},
             {IDC_PROPS_MINOR, kVersionParts[1], L""},
             {IDC_PROPS_BUILD, kVersionParts[2], L""},
             {IDC_PROPS_SPBUILD, kVersionParts[3], L""},
             {IDC_PROPS_DEFAULT_LANGUAGE, kDefaultLanguage, L""}};
  for (Field& field : fields_) {
    std::vector<std::wstring> values = ValuesOf(properties, field.path);
    field.shown = values.empty() ? std::wstring() : values[0];
    if (field.control == IDC_PROPS_ARCH) FillArchitectures(field.shown);
    else SetItemText(field.control, field.shown);
  }
  std::vector<std::wstring> languages = ValuesOf(properties, kLanguage);
  languagesShown_.clear();
  for (const std::wstring& language : languages) languagesShown_ += (languagesShown_.empty() ? L"" : L", ") + language;
  SetItemText(IDC_PROPS_LANGUAGES, languagesShown_);
}

// The names of the architectures, and the stored text itself when it is
// none of them, so that an unknown value is shown and kept.
void CEditInfoDlg::FillArchitectures(const std::wstring& value) {
  HWND combo = Item(IDC_PROPS_ARCH);
  archValues_.clear();
  int selected = -1;
  for (const Architecture& a : kArchitectures) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(a.name));
    if (value == a.number) selected = static_cast<int>(archValues_.size());
    archValues_.push_back(a.number);
  }
  if (selected < 0) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(value.c_str()));
    selected = static_cast<int>(archValues_.size());
    archValues_.push_back(value);
  }
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

std::wstring CEditInfoDlg::ArchitectureValue() const {
  int selected = static_cast<int>(SendMessageW(Item(IDC_PROPS_ARCH), CB_GETCURSEL, 0, 0));
  return selected >= 0 && static_cast<size_t>(selected) < archValues_.size() ? archValues_[selected] : L"";
}

std::wstring CEditInfoDlg::FieldText(const Field& field) const {
  return field.control == IDC_PROPS_ARCH ? ArchitectureValue() : ItemText(field.control);
}

// The status line names the Windows properties that are empty or read
// "<undefined>".
void CEditInfoDlg::ShowUndefined() {
  std::vector<std::wstring> names = SplitFields(LoadStr(IDS_PROPS_FIELD_NAMES));
  names.resize(7);
  bool undefined[7] = {};
  for (const Field& field : fields_) {
    bool empty = Undefined(FieldText(field));
    switch (field.control) {
      case IDC_PROPS_EDITION: undefined[0] = empty; break;
      case IDC_PROPS_INSTALLATION: undefined[1] = empty; break;
      case IDC_PROPS_PRODUCT: undefined[2] = empty; break;
      case IDC_PROPS_ARCH: undefined[3] = empty; break;
      case IDC_PROPS_DEFAULT_LANGUAGE: undefined[6] = empty; break;
      default: undefined[4] = undefined[4] || empty; break;  // a part of the version
    }
  }
  std::vector<std::wstring> languages = SplitFields(ItemText(IDC_PROPS_LANGUAGES), L',');
  undefined[5] = std::all_of(languages.begin(), languages.end(), [](const std::wstring& l) { return Undefined(l); });
  std::wstring list;
  for (int i = 0; i < 7; i++)
    if (undefined[i]) list += (list.empty() ? L"" : L", ") + names[i];
  SetItemText(IDC_PROPS_UNDEFINED,
              list.empty() ? LoadStr(IDS_PROPS_NONE_DEFINED) : FormatStr(LoadStr(IDS_PROPS_UNDEFINED_FIELDS).c_str(), list.c_str()));
}

std::vector<std::wstring> CEditInfoDlg::FixedPaths() {
  std::vector<std::wstring> paths(std::begin(kMainPaths), std::end(kMainPaths));
  for (const wchar_t* p : {kEditionId, kInstallationType, kProductType, kArchitecture, kVersionParts[0], kVersionParts[1],
                           kVersionParts[2], kVersionParts[3], kLanguage, kDefaultLanguage})
    paths.push_back(p);
  return paths;
}

bool CEditInfoDlg::IsFixedPath(const std::wstring& path) const {
  std::vector<std::wstring> fixed = FixedPaths();
  return std::find(fixed.begin(), fixed.end(), path) != fixed.end();
}

void CEditInfoDlg::FillRows() {
  HWND list = Item(IDC_PROPS_LIST);
  ListView_DeleteAllItems(list);
  for (const ImageProperty& p : rows_)
    AppendListRow(list, -1, {p.path, p.value, Undefined(p.value) ? LoadStr(IDS_PROPS_UNDEFINED) : L""});
}

void CEditInfoDlg::OnRowSelected() {
  int row = ListView_GetNextItem(Item(IDC_PROPS_LIST), -1, LVNI_SELECTED);
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  SetItemText(IDC_PROPS_PATH, rows_[row].path);
  SetItemText(IDC_PROPS_VALUE, rows_[row].value);
}

void CEditInfoDlg::Tell(UINT stringId) { AppMessageBox(hwnd_, LoadStr(stringId), L"", MB_ICONEXCLAMATION); }

// "设置": the selected row of the same path takes the value; any other path
// becomes a new row, after the last row of its path when it has some (a
// further element of that name).
void CEditInfoDlg::SetRow() {
  std::wstring path = Trimmed(ItemText(IDC_PROPS_PATH));
  std::wstring value = ItemText(IDC_PROPS_VALUE);
  if (!ValidPropertyPath(path)) return Tell(IDS_PROPS_BAD_PATH);
  if (IsFixedPath(path)) return Tell(IDS_PROPS_FIXED_PATH);
  for (const std::wstring& p : FixedPaths())
    if (Nested(path, p)) return Tell(IDS_PROPS_PATH_CONFLICT);
  for (const ImageProperty& p : rows_)
    if (Nested(path, p.path)) return Tell(IDS_PROPS_PATH_CONFLICT);
  int selected = ListView_GetNextItem(Item(IDC_PROPS_LIST), -1, LVNI_SELECTED);
  size_t at;
  if (selected >= 0 && static_cast<size_t>(selected) < rows_.size() && rows_[selected].path == path) {
    rows_[selected].value = value;
    at = static_cast<size_t>(selected);
  } else {
    at = rows_.size();
    for (size_t i = 0; i < rows_.size(); i++)
      if (rows_[i].path == path) at = i + 1;
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), ImageProperty{path, value});
  }
  FillRows();
  HWND list = Item(IDC_PROPS_LIST);
  ListView_SetItemState(list, static_cast<int>(at), LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(list, static_cast<int>(at), FALSE);
}

void CEditInfoDlg::RemoveRow() {
  int selected = ListView_GetNextItem(Item(IDC_PROPS_LIST), -1, LVNI_SELECTED);
  if (selected < 0 || static_cast<size_t>(selected) >= rows_.size()) return;
  rows_.erase(rows_.begin() + selected);
  FillRows();
}

bool CEditInfoDlg::CollectProperties(std::vector<ImageProperty>& out) {
  out = rows_;
  for (const Field& field : fields_) {
    std::wstring text = FieldText(field);
    if (text == field.shown) {
      // Untouched: the element stays as it is, however many there are.
      for (const std::wstring& v : ValuesOf(properties, field.path)) out.push_back({field.path, v});
      continue;
    }
    if (field.control >= IDC_PROPS_MAJOR && field.control <= IDC_PROPS_SPBUILD) {
      text = Trimmed(text);
      if (!IsNumber(text)) {
        Tell(IDS_PROPS_BAD_NUMBER);
        SetFocus(Item(field.control));
        return false;
      }
    }
    out.push_back({field.path, text});
  }
  std::wstring languages = ItemText(IDC_PROPS_LANGUAGES);
  if (languages == languagesShown_) {
    for (const std::wstring& v : ValuesOf(properties, kLanguage)) out.push_back({kLanguage, v});
  } else {
    for (wchar_t& c : languages)
      if (c == L';') c = L',';
    for (const std::wstring& piece : SplitFields(languages, L',')) {
      std::wstring language = Trimmed(piece);
      if (!language.empty()) out.push_back({kLanguage, language});
    }
  }
  return true;
}

void CEditInfoDlg::ReadTexts() {
  name = ItemText(IDC_EDIT_NAME);
  description = ItemText(IDC_EDIT_DESCRIPTION);
  displayName = ItemText(IDC_EDIT_DISPLAY_NAME);
  displayDescription = ItemText(IDC_EDIT_DISPLAY_DESC);
}

void CEditInfoDlg::OnOK() {
  std::vector<ImageProperty> edited;
  if (!CollectProperties(edited)) return;
  ReadTexts();
  int selected = static_cast<int>(SendMessageW(Editions(), CB_GETCURSEL, 0, 0));
  // "None" means no edition; a flag that matched no entry stays unless an
  // entry was picked.
  if (selected == 0) flags.clear();
  else if (selected > 0 && selected < 10) flags = kEditions[selected];
  else if (EqualNoCase(flags, kEditions[0])) flags.clear();
  boot = IsDlgButtonChecked(hwnd_, IDC_EDIT_BOOT) == BST_CHECKED;
  properties.swap(edited);
  Dialog::OnOK();
}

bool CEditInfoDlg::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_EDIT_NAME:
    case IDC_EDIT_DESCRIPTION:
    case IDC_EDIT_DISPLAY_NAME:
    case IDC_EDIT_DISPLAY_DESC:
      if (code == EN_CHANGE && !filling_) ReadTexts();
      return true;
    case IDC_EDIT_EDITION:
      if (code == CBN_SELCHANGE) {
        int selected = static_cast<int>(SendMessageW(Editions(), CB_GETCURSEL, 0, 0));
        if (selected == 0) flags.clear();
        else if (selected > 0 && selected < 10) flags = kEditions[selected];
      }
      return true;
    case IDC_PROPS_EDITION:
    case IDC_PROPS_INSTALLATION:
    case IDC_PROPS_PRODUCT:
    case IDC_PROPS_MAJOR:
    case IDC_PROPS_MINOR:
    case IDC_PROPS_BUILD:
    case IDC_PROPS_SPBUILD:
    case IDC_PROPS_LANGUAGES:
    case IDC_PROPS_DEFAULT_LANGUAGE:
      if (code == EN_CHANGE && !filling_) ShowUndefined();
      return true;
    case IDC_PROPS_ARCH:
      if (code == CBN_SELCHANGE) ShowUndefined();
      return true;
    case IDC_PROPS_SET:
      if (code == BN_CLICKED) SetRow();
      return true;
    case IDC_PROPS_REMOVE:
      if (code == BN_CLICKED) RemoveRow();
      return true;
    default:
      return false;
  }
}

bool CEditInfoDlg::OnNotify(NMHDR* header, LRESULT&) {
  if (header->idFrom != IDC_PROPS_LIST || header->code != LVN_ITEMCHANGED) return false;
  auto* change = reinterpret_cast<NMLISTVIEW*>(header);
  if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED))
    OnRowSelected();
  return true;
}
