/*
 * registrar.h - the registry script that registers the extension.
 *
 * A script names keys under root keys, in blocks of braces; tokens are
 * separated by white space and quoted with single quotes ('' is one quote):
 *
 *   HKCR
 *   {
 *       NoRemove CLSID
 *       {
 *           ForceRemove {GUID} = s 'Text'
 *           {
 *               InprocServer32 = s '%MODULE%'
 *               {
 *                   val ThreadingModel = s 'Apartment'
 *               }
 *           }
 *       }
 *   }
 *
 * A key may carry a default value ("= s 'text'" or "= d 'number'"), named
 * values ("val Name = ...") and subkeys. Key flags steer the two modes:
 *
 *   (none)       registration creates it; removal deletes it once nothing
 *                of anybody else is left below it
 *   NoRemove     registration creates it; removal keeps it
 *   ForceRemove  registration replaces it whole; removal deletes it whole
 *   Delete       registration deletes it whole; removal leaves it alone
 *
 * Variables such as %MODULE% are replaced before parsing; their values are
 * quoted for use inside single quotes.
 */
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tessel {

struct RegScriptValue {
  std::wstring name;  // empty: the key's default value
  bool isDword = false;
  std::wstring text;  // REG_SZ data
  DWORD number = 0;   // REG_DWORD data
};

struct RegScriptKey {
  enum Mode { kNormal, kNoRemove, kForceRemove, kDelete };
  Mode mode = kNormal;
  std::wstring name;
  bool hasDefault = false;
  RegScriptValue defaultValue;
  std::vector<RegScriptValue> values;
  std::vector<RegScriptKey> subkeys;
};

struct RegScriptRoot {
  HKEY root = nullptr;
  std::vector<RegScriptKey> keys;
};

using ScriptVariables = std::vector<std::pair<std::wstring, std::wstring>>;

// Replaces every %NAME% of `vars` in `text`, doubling quotes in the values;
// "%%" stands for one "%".
std::wstring ExpandScriptVariables(const std::wstring& text, const ScriptVariables& vars);

// Parses a script; false on a syntax error or an unknown root key.
bool ParseRegistryScript(const std::wstring& text, std::vector<RegScriptRoot>* roots);

// Writes (install) or removes the keys of a parsed script. Registration
// stops at the first failure; removal carries on past failures and returns
// the first one. Keys that do not exist are not a failure on removal.
HRESULT ApplyRegistryScript(const std::vector<RegScriptRoot>& roots, bool install);

// Expands, parses and applies a script. A registration that fails half-way
// removes what it wrote. A syntax error gives E_UNEXPECTED.
HRESULT RunRegistryScript(const std::wstring& text, const ScriptVariables& vars, bool install);

}  // namespace tessel
