#include "pages/page_capture.h"

#include "resources/resource.h"

CPage_Capture::CPage_Capture() : CFormPage(IDD_PAGE_CAPTURE) {}

void CPage_Capture::SetSourceFolder(const std::wstring& folder) { sourceFolder_ = folder; }
