#include "app/update_check.h"
#include "win/paths.h"

#include <wininet.h>

#include <atomic>
#include <memory>

#include "win/handles.h"
#include "win/system_library.h"
#include "win/window_thread.h"

namespace {
// The internet functions the check uses, loaded at its first run.
struct Wininet {
  decltype(&InternetOpenW) open = nullptr;
  decltype(&InternetSetOptionW) setOption = nullptr;
  decltype(&InternetOpenUrlW) openUrl = nullptr;
  decltype(&HttpQueryInfoW) queryInfo = nullptr;
  decltype(&InternetReadFile) read = nullptr;
  decltype(&InternetCloseHandle) close = nullptr;

  bool Complete() const { return open && setOption && openUrl && queryInfo && read && close; }
};

const Wininet& WininetFunctions() {
  static const Wininet functions = [] {
    const wchar_t* dll = L"wininet.dll";
    Wininet f;
    f.open = SystemFunctionAs<decltype(&InternetOpenW)>(dll, "InternetOpenW");
    f.setOption = SystemFunctionAs<decltype(&InternetSetOptionW)>(dll, "InternetSetOptionW");
    f.openUrl = SystemFunctionAs<decltype(&InternetOpenUrlW)>(dll, "InternetOpenUrlW");
    f.queryInfo = SystemFunctionAs<decltype(&HttpQueryInfoW)>(dll, "HttpQueryInfoW");
    f.read = SystemFunctionAs<decltype(&InternetReadFile)>(dll, "InternetReadFile");
    f.close = SystemFunctionAs<decltype(&InternetCloseHandle)>(dll, "InternetCloseHandle");
    return f;
  }();
  return functions;
}

struct InternetCloser {
  void operator()(void* handle) const { WininetFunctions().close(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

constexpr size_t kMaxValueChars = 259;

bool StatusIsOk(HINTERNET request) {
  DWORD status = 0, size = sizeof status;
  if (!WininetFunctions().queryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  return status == 200;
}

// What the download thread and the check share. The check may give up
// (stopped, out of time) while a read still blocks; the download then ends
// at its next read and drops its own reference.
struct Download {
  std::wstring url;
  DWORD totalMs = 0;
  std::atomic<bool> abandoned{false};
  bool ok = false;
  std::string body;
};

// Reads the answer into memory, stopping when it is abandoned or grows
// past the limit (then it is no update file).
bool ReadAnswer(HINTERNET request, Download& download) {
  char buffer[1024];
  for (;;) {
    if (download.abandoned) return false;
    DWORD got = 0;
    if (!WininetFunctions().read(request, buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    if (download.body.size() + got > kUpdateReplyMaxBytes) return false;
    download.body.append(buffer, got);
  }
}

bool Fetch(Download& download) {
  const Wininet& net = WininetFunctions();
  if (!net.Complete()) return false;
  InternetHandle session(net.open(L"Tarnix/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  DWORD timeout = download.totalMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT})
    net.setOption(session.get(), option, &timeout, sizeof timeout);
  InternetHandle request(net.openUrl(session.get(), download.url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0));
  if (!request || download.abandoned || !StatusIsOk(request.get())) return false;
  return ReadAnswer(request.get(), download);
}

// Runs the download on a thread of its own and waits for it, for `stop`
// and for the time left; the body when the download succeeded in time.
bool DownloadWithin(const std::wstring& url, HANDLE stop, DWORD totalMs, std::string& body) {
  auto download = std::make_shared<Download>();
  download->url = url;
  download->totalMs = totalMs;
  UniqueHandle thread = StartThread([download] { download->ok = Fetch(*download); });
  if (!thread) return false;
  HANDLE waits[2] = {thread.get(), stop};
  DWORD woke = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, totalMs);
  thread.reset();  // a download still running ends on its own
  if (woke != WAIT_OBJECT_0) {
    download->abandoned = true;
    return false;
  }
  body = std::move(download->body);
  return download->ok;
}

std::wstring Decode(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
  std::string text = bytes;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (text.empty()) return L"";
  UINT codePage = CP_UTF8;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) {
    codePage = CP_ACP;
    n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  }
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::wstring Trim(const std::wstring& text) {
  size_t start = text.find_first_not_of(L" \t\r");
  if (start == std::wstring::npos) return L"";
  size_t end = text.find_last_not_of(L" \t\r");
  return text.substr(start, end - start + 1);
}
}  // namespace

std::wstring UpdateFileValue(const std::string& file, const wchar_t* key) {
  std::wstring text = Decode(file);
  bool inSection = false;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = Trim(text.substr(at, end - at));
    at = end + 1;
    if (!line.empty() && line.front() == L'[') {
      inSection = EqualNoCase(line, L"[VER]");
      continue;
    }
    size_t equals = line.find(L'=');
    if (!inSection || equals == std::wstring::npos) continue;
    if (!EqualNoCase(Trim(line.substr(0, equals)), key)) continue;
    return Trim(line.substr(equals + 1)).substr(0, kMaxValueChars);
  }
  return L"";
}

std::wstring MakerUrl(const std::wstring& host, const wchar_t* path) { return L"http://" + host + path; }

UpdateResult CheckForUpdate(const std::wstring& host, HANDLE stop, DWORD totalMs) {
  UpdateResult result;
  std::string file;
  if (!DownloadWithin(MakerUrl(host, L"/software/quarry/quarry.tmp"), stop, totalMs, file)) return result;
  std::wstring newest = UpdateFileValue(file, L"New");
  if (newest.empty()) return result;
  result.info = UpdateFileValue(file, L"Info");
  if (result.info.empty()) result.info = L"...";
  result.outcome = newest == kVersionCode ? UpdateResult::kUpToDate : UpdateResult::kNewer;
  return result;
}
