// The capture options dialog (IDD_SAVE_OPTIONS, "捕获选项"): compression,
// edition flag, boot mark and, with wimlib, WIMBoot compatibility for a new
// image. Every capture and every export into a new file asks through it.
// An append from the capture page may also take one of the file's images
// as a template, so that only the files that changed are read.
//
// The caller sets the inputs, runs DoModal and reads the outputs only after
// IDOK:
//
//   CSaveOptionDlg options;
//   options.appendMode = 1;
//   options.wimPath = file;
//   if (options.DoModal(owner) != IDOK) return;
//   Use(options.compressionType, options.editionFlag, options.bootIndex, options.wimBoot);
#pragma once
#include <string>
#include <vector>

#include "engine/backend.h"
#include "win/dialog.h"

class CSaveOptionDlg : public Dialog {
 public:
  CSaveOptionDlg();

  // Inputs.
  int appendMode = 0;    // 0: a new file; 1: a further image of wimPath
  std::wstring wimPath;  // the target: read in append mode; its extension checked in create mode
  int defaultOnly = 0;   // 1: edition list "默认" only; edition and boot locked
  // The back end the image will be written with, and the bound back ends
  // (which tell whether WIMGAPI writes solid files); none: WIMGAPI, and
  // solid is offered.
  BackendKind backend = kBackendWimgapi;
  const Backends* backends = nullptr;
  std::wstring tempFolder;  // given to WIMGAPI when it is asked
  // Append mode: offer the file's images as the template of the new image
  // (greyed, with its reason, where the back end or the file has none).
  bool offerTemplate = false;

  // Outputs, valid after IDOK.
  int compressionType = 1;   // 0 none, 1 XPRESS, 2 LZX, 3 LZMS (solid for a new file)
  std::wstring editionFlag;  // FLAGS text; empty for the first entry
  int bootIndex = 0;         // 0: no boot mark; else the number the new image gets
  int wimBoot = 0;           // 1: WIMBoot-compatible (wimlib only)
  int templateImage = 0;     // kTemplateNone, kTemplateLastImage or an image index (engine/engine.h)

  // The edition entries offered, in this order.
  static const wchar_t* const kEditions[];
  static const int kEditionCount;

  // The tooltip of a greyed solid choice; empty when the choice is offered.
  std::wstring SolidTooltipText() const;

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override;

 private:
  void FillEditions();
  void ReadAppendTarget();
  void MarkCompression(int type);
  void EnableCompression(bool enable);
  void OnWimBootClicked();
  void OfferSolidOnlyIfWritable();
  bool ConfirmEsdCompression();
  // The template choice: filled from the images of the file, greyed with
  // its reason, or hidden (with the dialog made shorter) when not offered.
  void OfferTemplate();
  void HideTemplate();
  void EnableTemplateImage();
  bool BackendTakesTemplate() const;

  int offeredBootIndex_ = 1;       // number the new image will get
  bool compressionLocked_ = false; // the existing file decides the compression
  bool solidUnavailable_ = false;  // the back end cannot write a solid file
  HWND tooltip_ = nullptr;         // explains a greyed solid choice
  std::wstring tooltipText_;
  std::vector<std::wstring> imageNames_;  // of the append target, in file order
};
