#include "win/strings.h"

#include <cstdarg>
#include <cwchar>

std::wstring LoadStr(UINT id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, length) : std::wstring();
}

std::vector<std::wstring> SplitFields(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::wstring::npos) end = text.size();
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

std::wstring FormatStr(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = _vscwprintf(format, copy);
  va_end(copy);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) _vsnwprintf(&out[0], n + 1, format, args);
  va_end(args);
  return out;
}

std::wstring FillStr(const std::wstring& text, std::initializer_list<std::wstring> values) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] >= L'1' && text[i + 1] <= L'9') {
      size_t n = static_cast<size_t>(text[i + 1] - L'1');
      if (n < values.size()) {
        out += values.begin()[n];
        i++;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::wstring LoadFilledStr(UINT id, std::initializer_list<std::wstring> values) {
  return FillStr(LoadStr(id), values);
}
