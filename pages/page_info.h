// The information page (template 101): header facts and image metadata of
// one or more WIM files as an indented list.
#pragma once
#include <string>
#include <vector>

#include "pages/form_page.h"

class CPage_Info : public CFormPage {
 public:
  CPage_Info();

  // Adds a file below the rows shown (the "文件信息" jump of other pages).
  void AddFile(const std::wstring& path);
  const std::vector<std::wstring>& files() const { return files_; }

  // Passes a mouse-wheel turn on to the page's list.
  void ForwardMouseWheel(WPARAM wParam, LPARAM lParam);

 private:
  std::vector<std::wstring> files_;
};
