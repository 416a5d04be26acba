// The common ground of the operation pages: a child form view on a dialog
// template, created once by the main window (or by the advanced page host)
// and kept until the window closes. A page whose template has the "M"
// button (1077) gets it drawn as a picture button that opens the main menu.
#pragma once
#include "controls/buttons.h"
#include "win/dialog.h"

class CFormPage : public Dialog {
 public:
  using Dialog::Dialog;

 protected:
  // Enter and Escape belong to the main window, never to a page.
  void OnOK() override {}
  void OnCancel() override {}
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // Places the controls for a client size; by default the "M" button at
  // the bottom left and the separator line 60 pixels above the bottom.
  virtual void Layout(int width, int height);
  // The "M" button: the main menu of the main window.
  virtual void OnMainMenuButton();

  CIconButton menuButton_;
};
