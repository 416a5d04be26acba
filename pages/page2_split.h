// The split page (IDD_PAGE_SPLIT), first page of the advanced host: cuts a
// WIM file into parts of at most a chosen size, on a worker thread with
// the progress page in the host's place.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "controls/buttons.h"
#include "controls/drag_drop.h"
#include "pages/form_page.h"

class CPage2_Split : public CFormPage {
 public:
  enum Unit { kKB = 0, kMB = 1, kGB = 2 };
  enum SizeCheck { kSizeOk, kSizeNotPositive, kSizeTooLarge };

  CPage2_Split();

  // The "分割" jump of other pages: the file becomes the source.
  void OpenSource(const std::wstring& path);

  // The part size in bytes for a size text and unit: a positive decimal
  // number whose product with the unit fits in 64 bits.
  static SizeCheck PartSizeBytes(const std::wstring& text, int unit, uint64_t& bytes);
  // True when the file is one a back end cannot cut: its resources are
  // solid (the format of ESD files).
  static bool HasSolidResources(const std::wstring& path);

  int unit() const { return unit_; }

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;

 private:
  void ReadFields();
  void ShowWarning(bool show);
  void PickSource();
  void PickTarget();
  void OnEditDropped();
  void NextUnit();
  void OnSplit();
  bool CheckBeforeSplit(uint64_t& bytes, std::vector<std::wstring>& existingParts, std::wstring& converted);
  // A solid source is offered a conversion into a plain LZX file in the
  // temporary folder first; `converted` is then that file's name. False
  // when the user declines or the folder has too little space.
  bool OfferConversion(std::wstring& converted);
  // The FAT32 preset: parts of 4095 MB, each below FAT32's 4 GB limit.
  void UseFat32Preset();
  bool CheckExistingParts(const std::vector<std::wstring>& parts);
  bool IsAlreadySplit() const;

  CDropTargetEdit sourceEdit_;
  CDropTargetEdit targetEdit_;
  CIconButton unitButton_;
  std::wstring source_;
  std::wstring target_;
  std::wstring sizeText_ = L"1024";
  int unit_ = kKB;
};
