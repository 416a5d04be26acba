// The Apply page (template 129): applies or mounts an image of a WIM file,
// at once or through the task queue.
#pragma once
#include <string>

#include "pages/form_page.h"

class CPage_Apply : public CFormPage {
 public:
  CPage_Apply();

  // Makes a file the page's WIM file (the "应用或挂载" jump of other pages).
  void OpenWimFile(const std::wstring& path);
  const std::wstring& wimFile() const { return wimFile_; }

 protected:
  void OnMainMenuButton() override;

 private:
  std::wstring wimFile_;
};
