#!/usr/bin/env bash
# Lays the suite into a Wine prefix as its installer would, so that the plug-in
# finds everything where an installed suite keeps it.
#   install-suite.sh BUILD_DIR PREFIX
# BUILD_DIR is a Windows build tree (the 32-bit build or its 64-bit twin), PREFIX
# the Wine prefix (created when missing). What depends on the build's bitness comes
# from the tree's cv-build-kind.sh:
# - copies the built suite binaries (every .dll and .exe under BUILD_DIR/suite,
#   test folders left out) and the plug-in into "<Program Files>\corvantis\bin\"
#   ("Program Files (x86)" for the 32-bit build, "Program Files" for the twin);
# - writes into the build's own registry view: "BinDir" (Applications\KVX and
#   Applications), the branding "DLLPath", the product key and the machine default
#   settings; into the 64-bit view: "CorvantisPath" (and creates that folder);
# - registers the plug-in and the ID-card component with the regsvr32 of the
#   build's bitness.
# Running it again gives the same result. Per-user data is never touched.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR PREFIX" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
prefix=$2

[ -f "$build/cv-build-kind.sh" ] || { echo "missing $build/cv-build-kind.sh (configure first)" >&2; exit 1; }
# shellcheck source=/dev/null
source "$build/cv-build-kind.sh"

product_name="Corvantis Security Suite"
product_version="5.2.0.118"

bin_win="$CV_PROGRAM_FILES\\corvantis\\bin\\"
suite_win='C:\Program Files\corvantis\'
bin_unix="$prefix/drive_c/${CV_PROGRAM_FILES#C:\\}/corvantis/bin"
suite_unix="$prefix/drive_c/Program Files/corvantis"

say() { echo "[install-suite] $*"; }
wine_run() { "$here/wine-run.sh" --prefix "$prefix" "$@"; }

# --- what gets installed -------------------------------------------------------
plugin="$build/src/plugin/CVOnlineIDs.dll"
files=("$plugin")
for required in CvoSet/CvoSet.dll CVFPApi/CVFPApi.dll branding/CVBrand.dll; do
  [ -f "$build/suite/$required" ] || { echo "missing $build/suite/$required (build first)" >&2; exit 1; }
done
[ -f "$plugin" ] || { echo "missing $plugin (build first)" >&2; exit 1; }
while IFS= read -r -d '' file; do
  files+=("$file")
done < <(find "$build/suite" \( -name CMakeFiles -o -name tests \) -prune -o -type f \( -name '*.dll' -o -name '*.exe' \) -print0 | sort -z)

# --- registry ------------------------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A .reg string: backslashes and quotes escaped.
reg_sz() { printf '"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g')"; }
# A .reg hex value of the given kind (1 = REG_SZ with line breaks, 2 = REG_EXPAND_SZ).
reg_hex() {
  local bytes
  bytes=$(printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ' ' |
    sed 's/^ //; s/ $//; s/ /,/g')
  printf 'hex(%s):%s%s00,00' "$1" "$bytes" "${bytes:+,}"
}
# Writes a .reg text (UTF-8, LF) as regedit's UTF-16 file with CRLF line ends.
write_reg() { sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16 >"$1"; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

suite_key='HKEY_LOCAL_MACHINE\SOFTWARE\Corvantis'
write_reg "$work/suite.reg" <<EOF
Windows Registry Editor Version 5.00

[$suite_key\\Applications]
"BinDir"=$(reg_sz "$bin_win")

[$suite_key\\Applications\\KVX]
"BinDir"=$(reg_sz "$bin_win")

[$suite_key\\Branding\\Common]
"DLLPath"=$(reg_sz "${bin_win}CVBrand.dll")

[$suite_key\\Products\\$product_name]
"Version"=$(reg_sz "$product_version")

[$suite_key\\Settings]
"is_personalmode"="1"
"alienstorage_dirs"=""
"bin_dir"=$(reg_sz "$bin_win")
"cachestorage_dir"=$(reg_hex 2 '%LOCALAPPDATA%\Corvantis\LogonCache\')
"localstorage_dir"=$(reg_hex 2 '%APPDATA%\Corvantis\Logons\')
"quicklink_filename"=$(reg_hex 2 '%APPDATA%\Corvantis\QuickLinks.txt')
"suggested_char_num"="8"
"suggested_char_types"="3"
"pwd_share_accts"="1"
"suggested_maturity"="90"
"personal_build_version"=$(reg_sz "$product_version")
"is_oemDell"="-1"
"is_oemHP"="-1"
"dashboard_installed_apps"=$(reg_hex 1 $'OnlineIds=5.2.0:01\nIDCard=5.2.0:04')
"is_sensorstateactive"="-1"
"helpindexfilename_main_pro"=$(reg_sz "${bin_win}CVHelp.chm")
"open_security_manager_qa"="Ctrl+Win+72"
"show_training_prompt_def"="1"
"show_training_prompt"="1"

[$suite_key\\Help\\HelpLinks]
"password_manager"="html/password_manager.htm"
"manage_logons"="html/manage_logons.htm"
"password_strength"="html/password_strength.htm"
"using_quicklinks"="html/using_quicklinks.htm"
"feedback_icon_settings"="html/feedback_icon_settings.htm"
"shieldkit_icon_settings"="html/shieldkit_icon_settings.htm"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\http\\shell\\open\\command]
@=$(reg_sz "\"${bin_win}CVBrowser.exe\" \"%1\"")
EOF
write_reg "$work/install-folder.reg" <<EOF
Windows Registry Editor Version 5.00

[$suite_key]
"CorvantisPath"=$(reg_sz "$suite_win")
EOF

# The first Wine call also creates the prefix when it is new.
wine_run reg import "$(windows_path "$work/suite.reg")" "$CV_REG_VIEW"
say "$CV_BITS-bit registry: BinDir, Branding\\Common DLLPath, Products\\$product_name, Settings (19 defaults), http open command, Help\\HelpLinks (6 topics)"
wine_run reg import "$(windows_path "$work/install-folder.reg")" /reg:64
say "64-bit registry: CorvantisPath = $suite_win"

# --- files ---------------------------------------------------------------------
mkdir -p "$bin_unix" "$suite_unix"
for file in "${files[@]}"; do
  cp -f "$file" "$bin_unix/"
  say "copied $(basename "$file") to $bin_win"
done
# The plug-in's language resource libraries, one folder per language beside it.
for language_dir in "$build"/src/plugin/[0-9a-f][0-9a-f][0-9a-f][0-9a-f]; do
  [ -f "$language_dir/CVOnlineIDs.dll.mui" ] || continue
  mkdir -p "$bin_unix/$(basename "$language_dir")"
  cp -f "$language_dir/CVOnlineIDs.dll.mui" "$bin_unix/$(basename "$language_dir")/"
  say "copied $(basename "$language_dir")\\CVOnlineIDs.dll.mui to $bin_win"
done

# --- registration --------------------------------------------------------------
# The plug-in, and the ID-card component it tells of a new overall rating.
for server in CVOnlineIDs.dll CVUserAuth.dll; do
  if wine_run "$CV_REGSVR32" /s "${bin_win}${server}"; then
    say "registered ${bin_win}${server}"
  else
    say "WARNING: regsvr32 could not register ${bin_win}${server} (exit code $?)"
  fi
done
say "done: $prefix"
