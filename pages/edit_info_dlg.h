// "编辑信息" (IDD_EDIT_PROPERTIES): the name, description, display name,
// display description, edition flag and boot mark of one image, edited for
// the delete and edit page; beside them the Windows properties Setup and
// DISM read (edition, installation and product type, architecture,
// version, languages and the default language) and every other element of
// the image's XML as a path and value row.
#pragma once
#include <string>
#include <vector>

#include "engine/image_info.h"
#include "win/dialog.h"

class CEditInfoDlg : public Dialog {
 public:
  CEditInfoDlg();

  // The ten edition entries of the list, in their order.
  static const wchar_t* const kEditions[10];

  // The paths of the Windows properties the dialog has fields for.
  static const wchar_t* const kEditionId;
  static const wchar_t* const kInstallationType;
  static const wchar_t* const kProductType;
  static const wchar_t* const kArchitecture;
  static const wchar_t* const kVersionParts[4];  // MAJOR, MINOR, BUILD, SPBUILD
  static const wchar_t* const kLanguage;          // several
  static const wchar_t* const kDefaultLanguage;

  // Whether a value reads as not defined: empty, or "<undefined>".
  static bool Undefined(const std::wstring& value);

  // Fields: set before DoModal, read after OK.
  std::wstring name;
  std::wstring description;
  std::wstring displayName;
  std::wstring displayDescription;
  std::wstring flags;  // edition text; empty for none
  bool boot = false;
  // Every property of the image but the five elements above, in document
  // order; after OK the properties as edited (an empty value: the element
  // is to go).
  std::vector<ImageProperty> properties;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  // One field of a Windows property: its control, its path, the text it
  // was filled with.
  struct Field {
    int control;
    const wchar_t* path;
    std::wstring shown;
  };

  void FillEditions();
  void ReadTexts();
  HWND Editions() const { return Item(1065); }

  void FillWindowsFields();
  void FillArchitectures(const std::wstring& value);
  std::wstring ArchitectureValue() const;
  std::wstring FieldText(const Field& field) const;
  void ShowUndefined();
  // The paths of the six fields' and the Windows fields' elements.
  static std::vector<std::wstring> FixedPaths();
  bool IsFixedPath(const std::wstring& path) const;
  void FillRows();
  void OnRowSelected();
  void SetRow();
  void RemoveRow();
  // The properties as the fields and rows now hold them; false (told) when
  // a version part is not a number.
  bool CollectProperties(std::vector<ImageProperty>& out);
  void Tell(UINT stringId);

  bool filling_ = false;
  std::vector<Field> fields_;
  std::wstring languagesShown_;
  std::vector<ImageProperty> rows_;  // the other properties, as listed
  std::vector<std::wstring> archValues_;  // the number of each entry
};
