// The Capture page (template 130): captures a folder into a WIM file, at
// once or through the task queue.
#pragma once
#include <string>

#include "pages/form_page.h"

class CPage_Capture : public CFormPage {
 public:
  CPage_Capture();

  // Puts a folder into the source field (the "捕获" jump of other pages).
  void SetSourceFolder(const std::wstring& folder);
  const std::wstring& sourceFolder() const { return sourceFolder_; }

 private:
  std::wstring sourceFolder_;
};
