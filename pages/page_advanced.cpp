#include "pages/page_advanced.h"

#include "resources/resource.h"

namespace {
const int kButtons[4] = {IDC_ADVANCED_SPLIT, IDC_ADVANCED_MERGE, IDC_ADVANCED_DELETE, IDC_ADVANCED_MAINTAIN};
// The child pages start this far below the host's top edge, under the buttons.
constexpr int kChildTop = 50;
}  // namespace

CPage_Advanced::CPage_Advanced() : CFormPage(IDD_PAGE_ADVANCED) {}

Dialog* CPage_Advanced::ChildOf(int buttonId) {
  switch (buttonId) {
    case IDC_ADVANCED_SPLIT: return &split_;
    case IDC_ADVANCED_MERGE: return &merge_;
    case IDC_ADVANCED_DELETE: return &delete_;
    case IDC_ADVANCED_MAINTAIN: return &maintain_;
    default: return nullptr;
  }
}

void CPage_Advanced::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  // Created in this order, each with its template id as control id.
  split_.CreateView(hwnd_);
  merge_.CreateView(hwnd_);
  delete_.CreateView(hwnd_);
  maintain_.CreateView(hwnd_);
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  SelectChild(IDC_ADVANCED_SPLIT);
}

void CPage_Advanced::ShowChild(int buttonId) {
  for (int id : kButtons) {
    Dialog* child = ChildOf(id);
    if (child && child->hwnd()) child->Show(id == buttonId);
  }
  selected_ = buttonId;
}

void CPage_Advanced::SelectChild(int buttonId) {
  ShowChild(buttonId);
  for (int id : kButtons) CheckDlgButton(hwnd_, id, id == buttonId ? BST_CHECKED : BST_UNCHECKED);
}

void CPage_Advanced::OpenInChild(UINT command, const std::wstring& path) {
  lastFile_ = path;
  switch (command) {
    case ID_JUMP_SPLIT:
      SelectChild(IDC_ADVANCED_SPLIT);
      split_.OpenSource(path);
      break;
    case ID_JUMP_MERGE:
      SelectChild(IDC_ADVANCED_MERGE);
      merge_.AddWimFile(path);
      break;
    case ID_JUMP_DELETE:
      SelectChild(IDC_ADVANCED_DELETE);
      delete_.OpenWimFile(path);
      break;
    case ID_JUMP_MAINTAIN:
      SelectChild(IDC_ADVANCED_MAINTAIN);
      maintain_.OpenFile(path);
      break;
    default:
      break;
  }
}

bool CPage_Advanced::OnCommand(int id, int code, HWND control) {
  for (int button : kButtons) {
    if (id == button && code == BN_CLICKED) {
      ShowChild(id);
      return true;
    }
  }
  return CFormPage::OnCommand(id, code, control);
}

void CPage_Advanced::Layout(int width, int height) {
  // The radio buttons along the top edge, the child pages below them.
  int x = 15;
  for (int id : kButtons) {
    MoveItem(Item(id), x, 15, 150, 22);
    x += 165;
  }
  for (int id : kButtons) {
    Dialog* child = ChildOf(id);
    if (child) MoveItem(child->hwnd(), 0, kChildTop, width, height > kChildTop ? height - kChildTop : 0);
  }
  CFormPage::Layout(width, height);
}
