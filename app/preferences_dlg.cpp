#include "app/preferences_dlg.h"

#include <shlobj.h>

#include "app/quarry_app.h"
#include "app/shell_integration.h"
#include "app/shell_task.h"
#include "win/pickers.h"
#include "config/config_editor.h"
#include "resources/resource.h"
#include "win/paths.h"

CCfgDlg::CCfgDlg(CQuarryApp& app) : Dialog(IDD_PREFERENCES), app_(app), tempFolder_(app.settings.tempFolder) {}

bool CCfgDlg::Checked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void CCfgDlg::Check(int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }

bool CCfgDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY))));
  Check(IDC_PREF_AUTOPOP, app_.settings.autoPopMountList != 0);
  Check(IDC_PREF_ASSOCIATE, app_.settings.fileAssociation != 0);
  Check(IDC_PREF_USECFG, app_.settings.useCfg != 0);
  Check(IDC_PREF_INTEGRATE, app_.settings.shellIntegration != 0);
  SetItemText(IDC_PREF_TEMP, tempFolder_);
  return true;
}

bool CCfgDlg::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_PREF_TEMP:
      if (code == EN_CHANGE) tempFolder_ = ItemText(IDC_PREF_TEMP);
      return true;
    case IDC_PREF_BROWSE: {
      std::wstring folder = PickFolder(hwnd_, app_.settings.lastFolder);
      if (!folder.empty() && IsExistingFolder(folder)) {
        tempFolder_ = folder;
        SetItemText(IDC_PREF_TEMP, folder);
      }
      return true;
    }
    case IDC_PREF_CONFIG: {
      CEditCfgDLG editor(app_.settingsPath, app_.captureLists);
      editor.DoModal(hwnd_);
      return true;
    }
    case IDC_PREF_INTEGRATE:
      // Integration needs the association.
      if (code == BN_CLICKED && Checked(IDC_PREF_INTEGRATE)) Check(IDC_PREF_ASSOCIATE, true);
      return true;
    case IDC_PREF_ASSOCIATE:
      if (code == BN_CLICKED && !Checked(IDC_PREF_ASSOCIATE)) Check(IDC_PREF_INTEGRATE, false);
      return true;
    default:
      return false;
  }
}

void CCfgDlg::OnOK() {
  Settings& s = app_.settings;
  s.fileAssociation = Checked(IDC_PREF_ASSOCIATE) ? 1 : 0;
  ApplyFileAssociation(s.fileAssociation != 0, app_.programPath);
  s.tempFolder = tempFolder_;
  s.autoPopMountList = Checked(IDC_PREF_AUTOPOP) ? 1 : 0;
  s.useCfg = Checked(IDC_PREF_USECFG) ? 1 : 0;
  const bool integrate = Checked(IDC_PREF_INTEGRATE);
  ApplyShellIntegration(integrate, app_.programPath);
  s.shellIntegration = integrate ? 1 : 0;

  // The back end and the mode chosen in this session are held in memory
  // only; they go into the file with the rest and survive the reload.
  s.backend = static_cast<BYTE>(app_.backendKind);
  SaveSettings(s, app_.settingsPath);
  LoadSettings(s, app_.settingsPath);
  app_.tempFolder = s.tempFolder;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  EndDialog(IDOK);
}
