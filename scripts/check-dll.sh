#!/usr/bin/env bash
# Checks a built component: a DLL of its build's bitness (PE32 for the shipped 32-bit
# build, PE32+ for the 64-bit twin) that exports exactly DllGetClassObject,
# DllRegisterServer and DllUnregisterServer, and imports only system DLLs (the
# runtime is linked statically).
#   check-dll.sh DLL [BUILD_KIND_FILE]
# BUILD_KIND_FILE is the build tree's cv-build-kind.sh; by default the first one found
# in the DLL's folder or above it.
set -euo pipefail
dll=$1
kind=${2:-}
fail() { echo "check-dll: $*" >&2; exit 1; }
if [ -z "$kind" ]; then
  dir=$(cd "$(dirname "$dll")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/cv-build-kind.sh" ]; do dir=$(dirname "$dir"); done
  kind="$dir/cv-build-kind.sh"
fi
[ -f "$kind" ] || fail "no cv-build-kind.sh for $dll (configure the build first)"
# shellcheck source=/dev/null
source "$kind"

dump=$("$CV_OBJDUMP" -p "$dll")
grep -q "file format $CV_PE_FORMAT\$" <<<"$dump" || fail "$dll is not a $CV_BITS-bit PE image ($CV_PE_FORMAT)"
grep -qE '^Characteristics .*' <<<"$dump" && grep -q 'DLL' <<<"$dump" || fail "$dll is not a DLL"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1;next} on&&/^[ \t]*\[/{print $NF;next} on&&!/^[ \t]*\[/{on=0}' <<<"$dump" | sort | tr '\n' ' ')
expected="DllGetClassObject DllRegisterServer DllUnregisterServer "
[ "$exports" = "$expected" ] || fail "exports are '$exports', expected '$expected'"

known=$(ls "$CV_WIN_SYSTEM_DLLS" | tr 'A-Z' 'a-z')
imports=$(awk '/DLL Name:/{print $3}' <<<"$dump" | sort -u)
[ -n "$imports" ] || fail "no import table found"
for name in $imports; do
  lower=$(tr 'A-Z' 'a-z' <<<"$name")
  case "$lower" in
    libgcc*|libstdc++*|libwinpthread*|msvcp*|vcruntime*) fail "imports runtime DLL $name" ;;
  esac
  grep -qx "$lower" <<<"$known" || fail "imports $name, which is not a system DLL"
done
echo "check-dll: $(basename "$dll"): $CV_BITS-bit DLL ($CV_PE_FORMAT), exports: $exports; imports: $(echo $imports)"
