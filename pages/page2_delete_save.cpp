#include "pages/page2_delete_save.h"

#include <algorithm>

#include "engine/engine_host.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine/wim_file_reader.h"
#include "win/long_path.h"

namespace {
typedef int(__cdecl* SetImagePropertyFn)(WIMStruct* wim, int image, const wchar_t* name, const wchar_t* value);

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

// Where the file's own setters leave gaps: the display texts have no
// setter of their own, and an emptied name, description or edition is
// removed rather than left as it was.
int WriteGaps(const WimlibTable& api, SetImagePropertyFn setProperty, WIMStruct* wim, const ImageRow& row) {
  int ret = 0;
  if (row.info.name.empty() && api.set_image_name) ret = api.set_image_name(wim, row.index, L"");
  if (!ret && row.info.description.empty() && api.set_image_descripton)
    ret = api.set_image_descripton(wim, row.index, L"");
  if (!ret && row.info.flags.empty() && api.set_image_flags) ret = api.set_image_flags(wim, row.index, L"");
  if (!setProperty) return ret ? ret : -1;
  if (!ret) ret = setProperty(wim, row.index, L"DISPLAYNAME", OrNull(row.info.displayName));
  if (!ret) ret = setProperty(wim, row.index, L"DISPLAYDESCRIPTION", OrNull(row.info.displayDescription));
  return ret;
}
}  // namespace

int BootPosition(const std::vector<ImageRow>& rows) {
  for (size_t p = 0; p < rows.size(); p++)
    if (rows[p].boot) return static_cast<int>(p + 1);
  return 0;
}

std::vector<int> IndexesToDelete(const std::vector<ImageRow>& rows, int imageCount) {
  std::vector<int> doomed;
  for (int index = imageCount; index >= 1; index--) {
    bool kept = std::any_of(rows.begin(), rows.end(), [&](const ImageRow& row) { return row.index == index; });
    if (!kept) doomed.push_back(index);
  }
  return doomed;
}

WimStamp StampOfFile(const std::wstring& path) {
  WimStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.valid = true;
  stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.written = data.ftLastWriteTime;
  return stamp;
}

WimStamp CurrentStamp(const std::wstring& path) {
  WimStamp stamp = StampOfFile(path);
  WimFileReader reader;
  if (!stamp.valid || !reader.Read(path)) return WimStamp();
  stamp.imageCount = reader.ImageCount();
  return stamp;
}

bool ChangedSince(const std::wstring& path, const WimStamp& loaded) {
  if (!loaded.valid) return true;
  WimStamp now = CurrentStamp(path);
  return !now.valid || now.imageCount != loaded.imageCount || now.size != loaded.size ||
         CompareFileTime(&now.written, &loaded.written) != 0;
}

bool CopyForSaveAs(const std::wstring& source, const std::wstring& destination) {
  std::wstring temp = destination + L".quarry-copy";
  for (int i = 0; GetFileAttributesW(LongPathForm(temp).c_str()) != INVALID_FILE_ATTRIBUTES && i < 1000; i++)
    temp = destination + L".quarry-copy" + std::to_wstring(i);
  if (!CopyFileW(LongPathForm(source).c_str(), LongPathForm(temp).c_str(), TRUE)) {
    DeleteFileW(LongPathForm(temp).c_str());
    return false;
  }
  if (!MoveFileExW(LongPathForm(temp).c_str(), LongPathForm(destination).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(LongPathForm(temp).c_str());
    return false;
  }
  return true;
}

bool WriteWithWimgapi(const std::wstring& destination, const std::vector<ImageRow>& rows, int imageCount,
                      const std::wstring& tempFolder) {
  const WimgapiTable& api = Host().backends.wimgapi;
  if (rows.empty() || !api.CreateFile || !api.SetTemporaryPath || !api.LoadImage || !api.SetBootImage || !api.DeleteImage ||
      !api.CloseHandle)
    return false;
  WimgapiEngine engine(tempFolder);
  if (engine.ReadWimInfo(destination) != 1) {
    ReportApiFailure(L"WIMCreateFile()");
    return false;
  }
  if (static_cast<int>(engine.WimInfo().ImageCount) != imageCount) return false;

  WimHandle wim(api, api.CreateFile(destination.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0,
                                    0, nullptr));
  if (!wim) {
    ReportApiFailure(L"WIMCreateFile()");
    return false;
  }
  api.SetTemporaryPath(wim.get(), engine.TempFolder().c_str());
  bool ok = true;
  for (const ImageRow& row : rows) {
    WimHandle image(api, api.LoadImage(wim.get(), static_cast<DWORD>(row.index)));
    if (!image) {
      ReportApiFailure(L"WIMLoadImage()");
      ok = false;
      continue;
    }
    if (engine.WriteImageInfo(image.get(), row.index, row.info) != 0) ok = false;
  }
  for (int index : IndexesToDelete(rows, imageCount)) {
    if (!api.DeleteImage(wim.get(), static_cast<DWORD>(index))) {
      ReportApiFailure(L"WIMDeleteImage()");
      ok = false;
    }
  }
  // The boot mark goes on by position once the deletions are done: set
  // before them, it would stay on the number and mark another image.
  if (!api.SetBootImage(wim.get(), static_cast<DWORD>(BootPosition(rows)))) {
    ReportApiFailure(L"WIMSetBootImage()");
    ok = false;
  }
  return ok;
}

bool WriteWithWimlib(const std::wstring& destination, const std::vector<ImageRow>& rows, int imageCount) {
  const Backends& backends = Host().backends;
  const WimlibTable& api = backends.wimlib;
  if (rows.empty() || !api.open_wim || !api.delete_image || !api.set_wim_info || !api.overwrite || !api.free) return false;
  auto setProperty = backends.wimlibModule ? reinterpret_cast<SetImagePropertyFn>(
                                                 GetProcAddress(backends.wimlibModule, "wimlib_set_image_property"))
                                           : nullptr;
  bool ok = true;
  {
    WimlibEngine engine;
    if (engine.ReadWimInfo(destination) != 0) return false;
    if (static_cast<int>(engine.WimInfo().image_count) != imageCount) return false;
    for (const ImageRow& row : rows)
      if (WimlibEngine().WriteImageInfo(destination, row.index, row.info) != 0) ok = false;
  }

  WimlibWim wim(api);
  if (api.open_wim(destination.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out())) return false;
  for (const ImageRow& row : rows)
    if (WriteGaps(api, setProperty, wim.get(), row) != 0) ok = false;
  for (int index : IndexesToDelete(rows, imageCount))
    if (api.delete_image(wim.get(), index) != 0) ok = false;
  wimlib_wim_info info = {};
  info.boot_index = static_cast<uint32_t>(BootPosition(rows));
  if (api.set_wim_info(wim.get(), &info, WIMLIB_CHANGE_BOOT_INDEX) != 0) ok = false;
  if (api.overwrite(wim.get(), 0, 0) != 0) ok = false;
  return ok;
}
