#include "app/command_line.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace {
std::wstring Trim(const std::wstring& text) {
  size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return L"";
  size_t last = text.find_last_not_of(L" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::wstring WithoutLineFeeds(std::wstring text) {
  text.erase(std::remove(text.begin(), text.end(), L'\n'), text.end());
  return text;
}

// "C:\a b\x.wim" (with its quotes) -> C:\a b\x.wim. A quoted path ends at
// its closing quote: what follows it is another argument, not part of the
// path. A quote that is never closed runs to the end.
std::wstring Unquoted(const std::wstring& text) {
  std::wstring t = Trim(text);
  if (t.empty() || t.front() != L'"') return t;
  size_t close = t.find(L'"', 1);
  return close == std::wstring::npos ? t.substr(1) : t.substr(1, close - 1);
}

std::wstring Argument(const std::wstring& arguments) {
  return arguments.size() > 3 ? Unquoted(WithoutLineFeeds(arguments.substr(3))) : L"";
}

CommandKind KindOfSwitch(const std::wstring& arguments) {
  if (arguments.size() < 2 || arguments[0] != L'/') return CommandKind::kNone;
  switch (std::towupper(arguments[1])) {
    case L'I': return CommandKind::kInformation;
    case L'E': return CommandKind::kEdit;
    case L'A': return CommandKind::kApply;
    case L'M': return CommandKind::kMount;
    case L'C': return CommandKind::kCapture;
    case L'Q': return CommandKind::kQuickCapture;
    default: return CommandKind::kNone;
  }
}
}  // namespace

std::wstring LongPathOf(const std::wstring& path) {
  DWORD n = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  DWORD got = GetLongPathNameW(path.c_str(), &out[0], n);
  if (got == 0 || got >= n) return path;
  out.resize(got);
  return out;
}

CommandLine ParseCommandLine(const std::wstring& raw) {
  CommandLine result;
  std::wstring arguments = Trim(raw);
  if (arguments.empty()) return result;
  if (arguments.find(L'/') == std::wstring::npos) {
    std::wstring path = Unquoted(WithoutLineFeeds(arguments));
    if (path.empty()) return result;
    result.kind = CommandKind::kOpen;
    result.path = LongPathOf(path);
    return result;
  }
  result.kind = KindOfSwitch(arguments);
  if (result.kind != CommandKind::kNone) result.path = Argument(arguments);
  return result;
}

bool IsShellTask(CommandKind kind) {
  return kind == CommandKind::kApply || kind == CommandKind::kMount || kind == CommandKind::kCapture ||
         kind == CommandKind::kQuickCapture;
}
