// Dialogs from resource templates: modal, modeless, and child "form views"
// that live inside another window (the pages). The object is bound before
// WM_INITDIALOG reaches OnInitDialog; child controls can then be attached.
#pragma once
#include "win/window.h"

class Dialog : public Window {
 public:
  explicit Dialog(UINT templateId) : templateId_(templateId) {}

  // Runs the dialog modally; returns the value given to EndDialog.
  INT_PTR DoModal(HWND parent);
  // Creates the dialog modeless (or as a child, when the template says so).
  bool Create(HWND parent);
  // Creates a child form view and then runs its initial update, as pages do.
  bool CreateForm(HWND parent);
  // Creates a page of a main window: a bordered child form view without
  // edge styles, with the template id as its control id and an empty
  // rectangle (the owner lays it out), visible unless `shown` is false,
  // then runs its initial update.
  bool CreateView(HWND parent, bool shown = true);
  void EndDialog(INT_PTR result);

  UINT templateId() const { return templateId_; }
  bool IsModal() const { return modal_; }

 protected:
  // Return true to let the system set the focus to the first control.
  virtual bool OnInitDialog() { return true; }
  // Called once after a form view is created (form views only).
  virtual void OnInitialUpdate() {}
  // IDOK / IDCANCEL; by default they end a modal dialog or hide a modeless one.
  virtual void OnOK() { Close(IDOK); }
  virtual void OnCancel() { Close(IDCANCEL); }

  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  friend INT_PTR CALLBACK SharedDialogProc(HWND, UINT, WPARAM, LPARAM);
  void Close(INT_PTR result);

  UINT templateId_;
  bool modal_ = false;
};
