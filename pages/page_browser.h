// The browser page (template 182): the computer's folders and the folders
// and files inside an image, with extraction and drag-out.
#pragma once
#include <string>

#include "pages/form_page.h"

class CPage_Browser : public CFormPage {
 public:
  CPage_Browser();

  // Back to the start view (the drives), forgetting any open image.
  void Reset();
  // Opens a WIM file in the browser (the "文件浏览器" jump of other pages).
  void OpenWimFile(const std::wstring& path);
  const std::wstring& location() const { return location_; }

 private:
  std::wstring location_;
};
