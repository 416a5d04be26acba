// The only page of the easy mode (template 159): one large drop area for a
// folder or a WIM file, and the buttons of the operations that fit.
#pragma once
#include "pages/form_page.h"
#include "win/gdiplus.h"

class CPage_Easy : public CFormPage {
 public:
  CPage_Easy();

  // Empties the page ("清除", "全部清除", the Delete key); ignored while
  // the page is hidden.
  void Clear();
  bool filled() const { return filled_; }

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;
  void OnMainMenuButton() override;

 private:
  RECT DropArea() const;
  void Paint(HDC dc, const RECT& client);

  bool filled_ = false;
  PngImage emptyPicture_;
};
