// Back-end binding: the two imaging libraries are loaded once at start-up and
// bound function by function into two process-wide tables. A missing library
// or function leaves its entries null; operations that need a null entry
// return kResultNotBound (-99).
#pragma once
#include <windows.h>

#include <string>

#include "engine/wimlib_api.h"
#include "platform/common/wimgapi_abi.h"

enum BackendKind : unsigned char { kBackendWimgapi = 0, kBackendWimlib = 1 };

// One pointer per WIMGAPI function, in binding order.
struct WimgapiTable {
  PFN_WIMCreateFile CreateFile;
  PFN_WIMMountImageHandle MountImageHandle;
  PFN_WIMUnmountImageHandle UnmountImageHandle;
  PFN_WIMGetMountedImageHandle GetMountedImageHandle;
  PFN_WIMCommitImageHandle CommitImageHandle;
  PFN_WIMSetTemporaryPath SetTemporaryPath;
  PFN_WIMCloseHandle CloseHandle;
  PFN_WIMLoadImage LoadImage;
  PFN_WIMRegisterMessageCallback RegisterMessageCallback;
  PFN_WIMMountImage MountImage;
  PFN_WIMApplyImage ApplyImage;
  PFN_WIMGetAttributes GetAttributes;
  PFN_WIMSetReferenceFile SetReferenceFile;
  PFN_WIMUnregisterMessageCallback UnregisterMessageCallback;
  PFN_WIMCaptureImage CaptureImage;
  PFN_WIMSetBootImage SetBootImage;
  PFN_WIMGetImageInformation GetImageInformation;
  PFN_WIMExportImage ExportImage;
  PFN_WIMSplitFile SplitFile;
  PFN_WIMSetImageInformation SetImageInformation;
  PFN_WIMDeleteImage DeleteImage;
  PFN_WIMGetMountedImages GetMountedImages;
  PFN_WIMUnmountImage UnmountImage;
};

// One pointer per wimlib function, in binding order.
struct WimlibTable {
  PFN_wimlib_open_wim open_wim;
  PFN_wimlib_extract_image extract_image;
  PFN_wimlib_create_new_wim create_new_wim;
  PFN_wimlib_reference_resource_files reference_resource_files;
  PFN_wimlib_add_image add_image;
  PFN_wimlib_write write;
  PFN_wimlib_overwrite overwrite;
  PFN_wimlib_iterate_dir_tree iterate_dir_tree;
  PFN_wimlib_extract_paths extract_paths;
  PFN_wimlib_register_progress_function register_progress_function;
  PFN_wimlib_get_wim_info get_wim_info;
  PFN_wimlib_get_xml_data get_xml_data;
  PFN_wimlib_set_wim_info set_wim_info;
  PFN_wimlib_set_image_flags set_image_flags;
  PFN_wimlib_set_image_name set_image_name;
  PFN_wimlib_set_image_descripton set_image_descripton;
  PFN_wimlib_set_output_chunk_size set_output_chunk_size;
  PFN_wimlib_delete_image delete_image;
  PFN_wimlib_split split;
  PFN_wimlib_export_image export_image;
  PFN_wimlib_verify_wim verify_wim;
  PFN_wimlib_free free;
  PFN_wimlib_global_cleanup global_cleanup;
  PFN_wimlib_get_image_property get_image_property;
  PFN_wimlib_update_image update_image;
  PFN_wimlib_set_output_compression_type set_output_compression_type;
  PFN_wimlib_set_image_property set_image_property;
  PFN_wimlib_reference_template_image reference_template_image;
};

// Names of the entries above, in the same order.
extern const char* const kWimgapiNames[];
extern const char* const kWimlibNames[];
constexpr int kWimgapiCount = sizeof(WimgapiTable) / sizeof(void*);
constexpr int kWimlibCount = sizeof(WimlibTable) / sizeof(void*);

struct Backends {
  HMODULE wimgapiModule = nullptr;  // never unloaded
  HMODULE wimlibModule = nullptr;   // never unloaded
  WimgapiTable wimgapi = {};
  WimlibTable wimlib = {};

  bool wimlibReleased = false;  // ReleaseBackends has run

  bool WimgapiAvailable() const { return wimgapi.CreateFile != nullptr; }
  bool WimlibAvailable() const { return wimlib.open_wim != nullptr; }
};

// Where binding looks. The defaults are the program's: "Wimgapi.dll" by the
// standard search order, and "libwim-15.dll" from the "wimlib" folder beside
// the program, which becomes the process's current directory.
constexpr const wchar_t* kWimlibModuleName = L"libwim-15.dll";
struct BindOptions {
  std::wstring wimgapiName = L"Wimgapi.dll";
  std::wstring wimlibName = kWimlibModuleName;
  std::wstring programPath;  // empty: this process's executable
};

// Loads both libraries and fills both tables. No message is shown for a
// missing library or function.
void BindBackends(Backends& out, const BindOptions& options = BindOptions());

// Program exit, once every worker has ended: frees wimlib's global state
// (wimlib_global_cleanup) exactly once. Operations never do it themselves:
// the state is shared by every worker that uses the library at the time.
void ReleaseBackends(Backends& backends);

// The full path of a module (null: the program), however long; empty when
// the system cannot tell it.
std::wstring ModuleFilePath(HMODULE module);
