#include "engine/backend.h"

const char* const kWimgapiNames[] = {
    "WIMCreateFile",          "WIMMountImageHandle",        "WIMUnmountImageHandle", "WIMGetMountedImageHandle",
    "WIMCommitImageHandle",   "WIMSetTemporaryPath",        "WIMCloseHandle",        "WIMLoadImage",
    "WIMRegisterMessageCallback", "WIMMountImage",          "WIMApplyImage",         "WIMGetAttributes",
    "WIMSetReferenceFile",    "WIMUnregisterMessageCallback", "WIMCaptureImage",     "WIMSetBootImage",
    "WIMGetImageInformation", "WIMExportImage",             "WIMSplitFile",          "WIMSetImageInformation",
    "WIMDeleteImage",         "WIMGetMountedImages",        "WIMUnmountImage",
};

const char* const kWimlibNames[] = {
    "wimlib_open_wim",          "wimlib_extract_image",       "wimlib_create_new_wim",
    "wimlib_reference_resource_files", "wimlib_add_image",    "wimlib_write",
    "wimlib_overwrite",         "wimlib_iterate_dir_tree",    "wimlib_extract_paths",
    "wimlib_register_progress_function", "wimlib_get_wim_info", "wimlib_get_xml_data",
    "wimlib_set_wim_info",      "wimlib_set_image_flags",     "wimlib_set_image_name",
    "wimlib_set_image_descripton", "wimlib_set_output_chunk_size", "wimlib_delete_image",
    "wimlib_split",             "wimlib_export_image",        "wimlib_verify_wim",
    "wimlib_free",              "wimlib_global_cleanup",
    "wimlib_get_image_property",
    "wimlib_update_image",
    "wimlib_set_output_compression_type",
    "wimlib_set_image_property",
    "wimlib_reference_template_image",
};

static_assert(sizeof(kWimgapiNames) / sizeof(kWimgapiNames[0]) == kWimgapiCount, "one name per WIMGAPI entry");
static_assert(sizeof(kWimlibNames) / sizeof(kWimlibNames[0]) == kWimlibCount, "one name per wimlib entry");

namespace {

// Fills a table of function pointers by name; the table is a plain array of
// pointers in the order of the names.
void BindTable(HMODULE module, const char* const* names, int count, void* table) {
  auto** slots = static_cast<FARPROC*>(table);
  for (int i = 0; i < count; ++i) slots[i] = module ? GetProcAddress(module, names[i]) : nullptr;
}

// "C:\prog\Quarry.exe" -> "C:\prog\wimlib"
std::wstring WimlibFolder(const std::wstring& programPath) {
  std::wstring path = programPath.empty() ? ModuleFilePath(nullptr) : programPath;
  size_t slash = path.find_last_of(L'\\');
  return path.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + L"wimlib";
}

// wimlib by name from the current directory, as the program has always
// looked for it; when that fails (a folder too long to be the current
// directory), by its full path, its own folder first for what it needs.
HMODULE LoadWimlib(const std::wstring& folder, const std::wstring& name) {
  HMODULE module = LoadLibraryW(name.c_str());
  if (!module && name.find_first_of(L"\\/") == std::wstring::npos)
    module = LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}

}  // namespace

void BindBackends(Backends& out, const BindOptions& options) {
  out = Backends();
  out.wimgapiModule = LoadLibraryW(options.wimgapiName.c_str());
  BindTable(out.wimgapiModule, kWimgapiNames, kWimgapiCount, &out.wimgapi);

  // The wimlib folder becomes the current directory so that the library and
  // whatever it needs are found there; it is deliberately not restored.
  const std::wstring folder = WimlibFolder(options.programPath);
  SetCurrentDirectoryW(folder.c_str());
  out.wimlibModule = LoadWimlib(folder, options.wimlibName);
  BindTable(out.wimlibModule, kWimlibNames, kWimlibCount, &out.wimlib);
}

void ReleaseBackends(Backends& backends) {
  if (backends.wimlibReleased) return;
  backends.wimlibReleased = true;
  if (backends.wimlib.global_cleanup) backends.wimlib.global_cleanup();
}

std::wstring ModuleFilePath(HMODULE module) {
  // The call cuts the path to the buffer and says so by filling it
  // completely; grow until the whole path fits.
  for (DWORD size = MAX_PATH;; size *= 2) {
    std::wstring path(size, L'\0');
    DWORD n = GetModuleFileNameW(module, &path[0], size);
    if (n == 0) return std::wstring();
    if (n < size) {
      path.resize(n);
      return path;
    }
    if (size >= 0x100000) return std::wstring();
  }
}
