#include "pages/page_info.h"

#include "resources/resource.h"

namespace {
constexpr int kInfoList = 1074;
}

CPage_Info::CPage_Info() : CFormPage(IDD_PAGE_INFO) {}

void CPage_Info::AddFile(const std::wstring& path) { files_.push_back(path); }

void CPage_Info::ForwardMouseWheel(WPARAM wParam, LPARAM lParam) {
  if (HWND list = Item(kInfoList)) SendMessageW(list, WM_MOUSEWHEEL, wParam, lParam);
}
