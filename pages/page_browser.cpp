#include "pages/page_browser.h"

#include "resources/resource.h"

CPage_Browser::CPage_Browser() : CFormPage(IDD_PAGE_BROWSER) {}

void CPage_Browser::Reset() { location_.clear(); }

void CPage_Browser::OpenWimFile(const std::wstring& path) { location_ = path; }
