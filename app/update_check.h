// The update check: fetches the small INI file that the maker's web server
// publishes ("/software/quarry/quarry.tmp", section VER, keys New and Info)
// and compares its New with the program's own version code.
#pragma once
#include <windows.h>

#include <string>

constexpr wchar_t kVersionCode[] = L"20150515A";

// The answer is read into memory and never longer than this; a longer one
// is not an update file.
constexpr size_t kUpdateReplyMaxBytes = 64 * 1024;
// The whole check, connection and every read together, ends within this.
constexpr DWORD kUpdateCheckTotalMs = 20000;

struct UpdateResult {
  enum Outcome { kUpToDate, kNewer, kFailed } outcome = kFailed;
  std::wstring info;  // the version text shown to the user (kNewer)
};

// Downloads the file from `host` (a host name, optionally ":port") and
// reads it. A connection that fails, an answer other than 200 OK, one
// longer than kUpdateReplyMaxBytes, a check that runs out of `totalMs` or
// is stopped through the event `stop` (may be null), or a file without
// VER/New is kFailed. It returns as soon as it is stopped or out of time;
// the download itself ends at its next read.
UpdateResult CheckForUpdate(const std::wstring& host, HANDLE stop = nullptr, DWORD totalMs = kUpdateCheckTotalMs);

// The value of `key` in section [VER] of an update file held in memory
// (UTF-8, UTF-16 with its byte-order mark, or the ANSI code page); empty
// when missing. At most 259 characters.
std::wstring UpdateFileValue(const std::string& file, const wchar_t* key);

// "http://" + host + path.
std::wstring MakerUrl(const std::wstring& host, const wchar_t* path);
