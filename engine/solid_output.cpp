#include "engine/solid_output.h"

#include <windows.h>

#include "platform/common/wimgapi_abi.h"

namespace {

enum ProbeState : LONG { kNotProbed = 0, kWritesSolid = 1, kRefusesSolid = 2 };
volatile LONG g_probe = kNotProbed;

// A name of our own in the temporary folder that no file has yet.
std::wstring ProbePath(const std::wstring& tempFolder) {
  std::wstring folder = tempFolder;
  if (folder.empty()) {
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    folder.assign(buffer, n <= MAX_PATH ? n : 0);
  }
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  wchar_t name[64];
  wsprintfW(name, L"quarry-solid-%lu-%lu.esd", GetCurrentProcessId(), GetTickCount());
  return folder + name;
}

bool ProbeWimgapi(const WimgapiTable& api, const std::wstring& tempFolder) {
  if (!api.CreateFile || !api.CloseHandle) return false;
  const std::wstring path = ProbePath(tempFolder);
  DWORD created = 0;
  HANDLE wim = api.CreateFile(path.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_NEW, 0, WIM_COMPRESS_LZMS, &created);
  if (!wim) return false;
  api.CloseHandle(wim);
  DeleteFileW(path.c_str());
  return true;
}

}  // namespace

bool WimgapiWritesSolid(const WimgapiTable& api, const std::wstring& tempFolder) {
  LONG state = g_probe;
  if (state == kNotProbed) {
    state = ProbeWimgapi(api, tempFolder) ? kWritesSolid : kRefusesSolid;
    InterlockedExchange(&g_probe, state);
  }
  return state == kWritesSolid;
}
