#include "app/update_check.h"

#include <wininet.h>

#include <memory>

#include "win/handles.h"

namespace {
struct InternetCloser {
  void operator()(void* handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

constexpr DWORD kTimeoutMs = 15000;

bool StatusIsOk(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  return status == 200;
}

// Copies the whole answer into the file; false on any failure (the file
// is then removed, so no half-written copy is ever read).
bool SaveAnswer(HINTERNET request, const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[1023];
  for (;;) {
    DWORD got = 0, written = 0;
    if (!InternetReadFile(request, buffer, sizeof buffer, &got)) break;
    if (got == 0) return true;
    if (!WriteFile(file.get(), buffer, got, &written, nullptr) || written != got) break;
  }
  file.reset();
  DeleteFileW(path.c_str());
  return false;
}

bool Download(const std::wstring& url, const std::wstring& path) {
  InternetHandle session(InternetOpenW(L"Tarnix/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  DWORD timeout = kTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT})
    InternetSetOptionW(session.get(), option, &timeout, sizeof timeout);
  InternetHandle request(InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0,
                                          INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0));
  if (!request || !StatusIsOk(request.get())) return false;
  return SaveAnswer(request.get(), path);
}

std::wstring ReadValue(const std::wstring& file, const wchar_t* key) {
  wchar_t buffer[260] = {};
  GetPrivateProfileStringW(L"VER", key, L"", buffer, 260, file.c_str());
  return buffer;
}
}  // namespace

std::wstring MakerUrl(const std::wstring& host, const wchar_t* path) { return L"http://" + host + path; }

UpdateResult CheckForUpdate(const std::wstring& host, const std::wstring& tempFile) {
  UpdateResult result;
  if (!Download(MakerUrl(host, L"/software/quarry/quarry.tmp"), tempFile)) return result;
  std::wstring newest = ReadValue(tempFile, L"New");
  if (newest.empty()) return result;
  result.info = ReadValue(tempFile, L"Info");
  if (result.info.empty()) result.info = L"...";
  result.outcome = newest == kVersionCode ? UpdateResult::kUpToDate : UpdateResult::kNewer;
  return result;
}
