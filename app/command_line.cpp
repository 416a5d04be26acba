#include "app/command_line.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

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
std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// The words of a text separated by blanks, in upper case.
std::vector<std::wstring> Words(const std::wstring& text) {
  std::vector<std::wstring> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(L" \t", at)) != std::wstring::npos) {
    size_t end = text.find_first_of(L" \t", at);
    words.push_back(Upper(text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at)));
    at = end;
  }
  return words;
}

// /REGISTER [ASSOC] [SHELL] and /UNREGISTER; false for anything else.
bool ParseSetupCommand(const std::wstring& arguments, CommandLine& result) {
  std::vector<std::wstring> words = Words(arguments);
  if (words.empty()) return false;
  if (words[0] == L"/UNREGISTER" && words.size() == 1) {
    result.kind = CommandKind::kUnregister;
    return true;
  }
  if (words[0] != L"/REGISTER") return false;
  CommandLine parsed;
  parsed.kind = CommandKind::kRegister;
  for (size_t i = 1; i < words.size(); i++) {
    if (words[i] == L"ASSOC") parsed.association = true;
    else if (words[i] == L"SHELL") parsed.association = parsed.shellIntegration = true;
    else return false;  // a word it does not know: not the installer's
  }
  result = parsed;
  return true;
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
  if (ParseSetupCommand(arguments, result)) return result;
  result.kind = KindOfSwitch(arguments);
  if (result.kind != CommandKind::kNone) result.path = Argument(arguments);
  return result;
}

bool IsSetupCommand(CommandKind kind) { return kind == CommandKind::kRegister || kind == CommandKind::kUnregister; }

bool IsShellTask(CommandKind kind) {
  return kind == CommandKind::kApply || kind == CommandKind::kMount || kind == CommandKind::kCapture ||
         kind == CommandKind::kQuickCapture;
}
