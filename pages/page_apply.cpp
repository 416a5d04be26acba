#include "pages/page_apply.h"

#include "app/quarry_app.h"
#include "resources/resource.h"

CPage_Apply::CPage_Apply() : CFormPage(IDD_PAGE_APPLY) {}

void CPage_Apply::OpenWimFile(const std::wstring& path) { wimFile_ = path; }

void CPage_Apply::OnMainMenuButton() {
  CFormPage::OnMainMenuButton();
  if (CQuarryApp* app = CQuarryApp::Instance(); app && app->mainWindow) SetFocus(app->mainWindow);
}
