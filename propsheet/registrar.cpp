// Parsing and applying the registration script.
#include "registrar.h"

namespace tessel {

namespace {

struct Token {
  std::wstring text;
  bool quoted = false;
};

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0xFEFF; }

bool Tokenize(const std::wstring& text, std::vector<Token>* tokens) {
  size_t i = 0;
  while (i < text.size()) {
    if (IsSpace(text[i])) {
      ++i;
      continue;
    }
    Token tok;
    if (text[i] == L'\'') {
      tok.quoted = true;
      for (++i;; ++i) {
        if (i >= text.size()) return false;  // unterminated string
        if (text[i] == L'\'') {
          if (i + 1 < text.size() && text[i + 1] == L'\'') {
            tok.text += L'\'';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          tok.text += text[i];
        }
      }
    } else {
      while (i < text.size() && !IsSpace(text[i])) tok.text += text[i++];
    }
    tokens->push_back(std::move(tok));
  }
  return true;
}

bool Is(const Token& tok, const wchar_t* word) { return !tok.quoted && lstrcmpiW(tok.text.c_str(), word) == 0; }

HKEY RootKey(const Token& tok) {
  if (Is(tok, L"HKCR") || Is(tok, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
  if (Is(tok, L"HKCU") || Is(tok, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (Is(tok, L"HKLM") || Is(tok, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
  if (Is(tok, L"HKU") || Is(tok, L"HKEY_USERS")) return HKEY_USERS;
  return nullptr;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool Roots(std::vector<RegScriptRoot>* roots) {
    while (More()) {
      RegScriptRoot root;
      root.root = RootKey(Next());
      if (!root.root || !Expect(L"{") || !Body(&root.keys, nullptr)) return false;
      roots->push_back(std::move(root));
    }
    return true;
  }

 private:
  bool More() const { return pos_ < tokens_.size(); }
  const Token& Next() { return tokens_[pos_++]; }
  bool PeekIs(const wchar_t* word) const { return More() && Is(tokens_[pos_], word); }
  bool Expect(const wchar_t* word) {
    if (!PeekIs(word)) return false;
    ++pos_;
    return true;
  }

  // "= s 'text'" or "= d 'number'", after the name.
  bool Value(RegScriptValue* value) {
    if (!Expect(L"=") || !More()) return false;
    const Token& type = Next();
    if (!More()) return false;
    const Token& data = Next();
    if (Is(type, L"s")) {
      value->text = data.text;
      return true;
    }
    if (Is(type, L"d")) {
      wchar_t* end = nullptr;
      value->isDword = true;
      value->number = (DWORD)wcstoul(data.text.c_str(), &end, 0);
      return !data.text.empty() && end && *end == 0;
    }
    return false;
  }

  // Keys (and, inside a key, named values) up to the closing brace.
  bool Body(std::vector<RegScriptKey>* keys, RegScriptKey* owner) {
    for (;;) {
      if (!More()) return false;
      if (Expect(L"}")) return true;
      if (PeekIs(L"val")) {
        if (!owner) return false;  // named values belong to a key
        ++pos_;
        if (!More()) return false;
        RegScriptValue value;
        value.name = Next().text;
        if (!Value(&value)) return false;
        owner->values.push_back(std::move(value));
        continue;
      }
      RegScriptKey key;
      if (Expect(L"NoRemove"))
        key.mode = RegScriptKey::kNoRemove;
      else if (Expect(L"ForceRemove"))
        key.mode = RegScriptKey::kForceRemove;
      else if (Expect(L"Delete"))
        key.mode = RegScriptKey::kDelete;
      if (!More()) return false;
      const Token& name = Next();
      if (!name.quoted && (name.text == L"{" || name.text == L"}" || name.text == L"=")) return false;
      key.name = name.text;
      if (PeekIs(L"=")) {
        key.hasDefault = true;
        if (!Value(&key.defaultValue)) return false;
      }
      if (Expect(L"{") && !Body(&key.subkeys, &key)) return false;
      keys->push_back(std::move(key));
    }
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

// Closes a registry key when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (h_) RegCloseKey(h_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* Receive() { return &h_; }
  HKEY Get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

bool IsMissing(LONG err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

LONG DeleteTree(HKEY parent, const std::wstring& name) {
  LONG err = RegDeleteTreeW(parent, name.c_str());
  return IsMissing(err) ? ERROR_SUCCESS : err;
}

LONG SetValue(HKEY key, const RegScriptValue& value) {
  const wchar_t* name = value.name.empty() ? nullptr : value.name.c_str();
  if (value.isDword)
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                        DWORD((value.text.size() + 1) * sizeof(wchar_t)));
}

LONG InstallKey(HKEY parent, const RegScriptKey& key) {
  if (key.mode == RegScriptKey::kDelete) return DeleteTree(parent, key.name);
  if (key.mode == RegScriptKey::kForceRemove) {
    LONG err = DeleteTree(parent, key.name);
    if (err != ERROR_SUCCESS) return err;
  }
  RegKey h;
  LONG err = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, h.Receive(),
                             nullptr);
  if (err != ERROR_SUCCESS) return err;
  if (key.hasDefault && (err = SetValue(h.Get(), key.defaultValue)) != ERROR_SUCCESS) return err;
  for (const RegScriptValue& value : key.values)
    if ((err = SetValue(h.Get(), value)) != ERROR_SUCCESS) return err;
  for (const RegScriptKey& sub : key.subkeys)
    if ((err = InstallKey(h.Get(), sub)) != ERROR_SUCCESS) return err;
  return ERROR_SUCCESS;
}

bool HasSubkeys(HKEY key) {
  DWORD subkeys = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return true;  // when in doubt, keep the key
  return subkeys != 0;
}

LONG RemoveKey(HKEY parent, const RegScriptKey& key) {
  if (key.mode == RegScriptKey::kDelete) return ERROR_SUCCESS;
  if (key.mode == RegScriptKey::kForceRemove) return DeleteTree(parent, key.name);

  LONG first = ERROR_SUCCESS;
  bool keep;
  {
    RegKey h;
    LONG err = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, h.Receive());
    if (err != ERROR_SUCCESS) return IsMissing(err) ? ERROR_SUCCESS : err;
    for (const RegScriptKey& sub : key.subkeys) {
      err = RemoveKey(h.Get(), sub);
      if (first == ERROR_SUCCESS) first = err;
    }
    for (const RegScriptValue& value : key.values) {
      err = RegDeleteValueW(h.Get(), value.name.c_str());
      if (first == ERROR_SUCCESS && !IsMissing(err)) first = err;
    }
    // Something of somebody else's below the key keeps it.
    keep = key.mode == RegScriptKey::kNoRemove || HasSubkeys(h.Get());
  }
  if (!keep) {
    LONG err = RegDeleteKeyW(parent, key.name.c_str());
    if (first == ERROR_SUCCESS && !IsMissing(err)) first = err;
  }
  return first;
}

}  // namespace

std::wstring ExpandScriptVariables(const std::wstring& text, const ScriptVariables& vars) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'%') {
      out += text[i++];
      continue;
    }
    size_t end = text.find(L'%', i + 1);
    if (end == std::wstring::npos) {
      out.append(text, i, std::wstring::npos);
      break;
    }
    std::wstring name = text.substr(i + 1, end - i - 1);
    bool known = name.empty();
    if (name.empty()) out += L'%';
    for (const auto& var : vars) {
      if (lstrcmpiW(var.first.c_str(), name.c_str()) != 0) continue;
      for (wchar_t c : var.second) out.append(c == L'\'' ? 2 : 1, c);
      known = true;
      break;
    }
    if (!known) {
      // Not one of ours: keep the text, and look again from its second '%'.
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    i = end + 1;
  }
  return out;
}

bool ParseRegistryScript(const std::wstring& text, std::vector<RegScriptRoot>* roots) {
  std::vector<Token> tokens;
  if (!Tokenize(text, &tokens)) return false;
  return Parser(std::move(tokens)).Roots(roots);
}

HRESULT ApplyRegistryScript(const std::vector<RegScriptRoot>& roots, bool install) {
  LONG first = ERROR_SUCCESS;
  for (const RegScriptRoot& root : roots) {
    for (const RegScriptKey& key : root.keys) {
      LONG err = install ? InstallKey(root.root, key) : RemoveKey(root.root, key);
      if (err == ERROR_SUCCESS) continue;
      if (install) return HRESULT_FROM_WIN32(err);
      if (first == ERROR_SUCCESS) first = err;
    }
  }
  return first == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(first);
}

HRESULT RunRegistryScript(const std::wstring& text, const ScriptVariables& vars, bool install) {
  std::vector<RegScriptRoot> roots;
  if (!ParseRegistryScript(ExpandScriptVariables(text, vars), &roots)) return E_UNEXPECTED;
  HRESULT hr = ApplyRegistryScript(roots, install);
  if (FAILED(hr) && install) ApplyRegistryScript(roots, false);
  return hr;
}

}  // namespace tessel
