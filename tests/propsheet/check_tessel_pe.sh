#!/bin/sh
# Checks the two builds of the property-sheet extension as files, since the
# x86 one cannot be loaded here: PE kind and machine, the four exports with
# ordinals 1-4, no runtime DLLs beside system ones, and the same neutral
# resources in both (the x64 one is exercised in-process by propsheet_tests).
# Usage: check_tessel_pe.sh Tessel64.dll Tessel86.dll
set -u
fail=0
bad() { echo "FAIL: $*"; fail=1; }

check() { # dll magic machine-text objdump-prefix
  dll=$1 magic=$2 arch=$3 tool=$4
  [ -f "$dll" ] || { bad "$dll is missing"; return; }
  name=$(basename "$dll")
  head=$("$tool-objdump" -f "$dll") || { bad "$name: objdump failed"; return; }
  echo "$head" | grep -q "architecture: $arch," || bad "$name: architecture is not $arch"
  pe=$("$tool-objdump" -p "$dll")
  echo "$pe" | grep -q "^Magic[[:space:]]*$magic" || bad "$name: PE magic is not $magic"
  echo "$pe" | grep -q "^Ordinal Base[[:space:]]*1$" || bad "$name: ordinal base is not 1"
  n=1
  for f in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
    # Name table lines read "[   i] Name" with i = ordinal - base.
    echo "$pe" | grep -Eq "^[[:space:]]*\[ *$((n - 1))\] $f\$" || bad "$name: $f is not export ordinal $n"
    n=$((n + 1))
  done
  count=$(echo "$pe" | grep -Ec '^[[:space:]]*\[ *[0-9]+\] [A-Za-z_]')
  [ "$count" -eq 4 ] || bad "$name: $count named exports, expected 4"
  for dep in $(echo "$pe" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case $(echo "$dep" | tr 'A-Z' 'a-z') in
      kernel32.dll|user32.dll|advapi32.dll|comctl32.dll|shell32.dll|ole32.dll|oleaut32.dll|msvcrt.dll) ;;
      *) bad "$name: imports $dep (the runtime must be linked in)" ;;
    esac
  done
  rc=$("$tool-windres" -J coff -O rc -i "$dll") || { bad "$name: resources unreadable"; return; }
  echo "$rc" | grep -q '^107 DIALOGEX 0, 0, 222, 158$' || bad "$name: dialog 107 missing or resized"
  echo "$rc" | grep -q '^  CONTROL "", 210, "SYSTREEVIEW32", 0x50110000, 7, 7, 208, 135$' ||
    bad "$name: tree control 210 differs"
  echo "$rc" | grep -q '^  100, "QuarryShell"$' || bad "$name: string 100 differs"
  echo "$rc" | grep -qF '101, L"\x7248\x672c:GUID:\x955c\x50cf\x6570:\x538b\x7f29\x65b9\x5f0f:\x5206\x5377\x6570:\x53ef\x5f15\x5bfc\x5377\x53f7:\x955c\x50cf"' ||
    bad "$name: string 101 differs"
  echo "$rc" | grep -qF '102, L"WIM\x4fe1\x606f"' || bad "$name: string 102 differs"
  echo "$rc" | grep -q '^101 "REGISTRY"$' || bad "$name: REGISTRY 101 missing"
  echo "$rc" | grep -q "InprocServer32 = s '%MODULE%'" || bad "$name: registration script incomplete"
  echo "$rc" | grep -q '^1 "TYPELIB"$' || bad "$name: TYPELIB 1 missing"
  langs=$(echo "$rc" | sed -n 's/^LANGUAGE //p' | sort -u)
  [ "$langs" = "0, 0" ] || bad "$name: resource languages are '$langs', not neutral"
  echo "$rc" | grep -v '^  0x' > "${TMPDIR:-/tmp}/tessel-rc-$$-$magic.txt"
}

check "$1" 020b i386:x86-64 x86_64-w64-mingw32
check "$2" 010b i386 i686-w64-mingw32

# Same dialog, strings and script in both (the type libraries differ by
# word size only, and their bytes are left out above).
a=${TMPDIR:-/tmp}/tessel-rc-$$-020b.txt
b=${TMPDIR:-/tmp}/tessel-rc-$$-010b.txt
if [ -f "$a" ] && [ -f "$b" ]; then
  diff "$a" "$b" >/dev/null || { bad "the resources of the two builds differ"; diff "$a" "$b" | head -20; }
fi
rm -f "$a" "$b"

[ $fail -eq 0 ] && echo "Tessel64.dll and Tessel86.dll: PE checks passed"
exit $fail
