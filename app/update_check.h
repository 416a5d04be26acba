// The update check: fetches the small INI file that the maker's web server
// publishes ("/software/quarry/quarry.tmp", section VER, keys New and Info)
// and compares its New with the program's own version code.
#pragma once
#include <windows.h>

#include <string>

constexpr wchar_t kVersionCode[] = L"20150515A";

struct UpdateResult {
  enum Outcome { kUpToDate, kNewer, kFailed } outcome = kFailed;
  std::wstring info;  // the version text shown to the user (kNewer)
};

// Downloads the file from `host` (a host name, optionally ":port") into
// `tempFile` and reads it. A connection that fails, an answer other than
// 200 OK or a file without VER/New is kFailed; nothing old is read instead.
UpdateResult CheckForUpdate(const std::wstring& host, const std::wstring& tempFile);

// "http://" + host + path.
std::wstring MakerUrl(const std::wstring& host, const wchar_t* path);
