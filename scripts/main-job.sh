#!/usr/bin/env bash
# The main job: installs what is needed, builds, installs the suite stand-ins into
# a Wine prefix of its own, seeds a demo user (three saved logons: templates and
# protected profiles, with the agent running), and runs the console host with the
# dashboard plug-in: its status and information, then its pages in a real window
# under Xvfb (saving a screenshot). Prints the plug-in's decoded trace at the end.
# The shipped 32-bit DLL is always built and checked; the demo runs it where this
# machine runs 32-bit code, and its 64-bit twin elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
bash scripts/check-dll.sh build/win32/src/plugin/CVOnlineIDs.dll

preset=win32
if ! bash scripts/runs-32bit.sh build/win32/tools/cvprobe.exe build/win64/demo-prefix; then
  preset=win64
  cmake --preset win64 >/dev/null
  cmake --build --preset win64
  bash scripts/check-dll.sh build/win64/src/plugin/CVOnlineIDs.dll
fi
build="$root/build/$preset"
# shellcheck source=/dev/null
source "$build/cv-build-kind.sh"
if [ $preset = win32 ]; then
  echo "== the demo shows the 32-bit build (build/win32)"
else
  echo "== the demo shows the 64-bit twin (build/win64): this machine cannot run 32-bit code"
fi
prefix="$build/demo-prefix"
out="$root/out"
mkdir -p "$out"
run() { "$root/scripts/wine-run.sh" --prefix "$prefix" "$@"; }

bash scripts/install-suite.sh "$build" "$prefix"

# Tracing on for the suite's processes, one file per process.
trace_dir="$prefix/drive_c/cvtrace"
rm -rf "$trace_dir" && mkdir -p "$trace_dir"
key='HKLM\SOFTWARE\Corvantis\Tracing'
run reg add "$key" "$CV_REG_VIEW" /v DoTrace /t REG_DWORD /d 1 /f >/dev/null
run reg add "$key" "$CV_REG_VIEW" /v TracePath /t REG_SZ /d 'C:\cvtrace' /f >/dev/null

bin="$CV_PROGRAM_FILES\\corvantis\\bin\\"
host="${bin}cvhost.exe"

echo "== a demo user: the agent runs, and the user saves three logons"
# Start the demo user afresh so that every run shows the same logons.
for user_dir in "$prefix"/drive_c/users/*/AppData/Roaming/Corvantis; do
  rm -rf "$user_dir/Logons" "$user_dir/PStore"
done
run "${bin}CVAgent.exe" --log 'C:\cvtrace\agent.log' >/dev/null 2>&1 &
sleep 2
while IFS='|' read -r name address user password; do
  CVUTRAIN_STANDIN_SCRIPT="ok;name=${name};address=${address};username=${user};password=${password}" \
    run "${bin}CvRunDll.exe" "${bin}CvUTrain.dll" dll_function_startmonitor 0x00000000 \
    && echo "saved logon: ${name} (${address}, ${user})" \
    || echo "could not save the logon ${name}"
done <<'LOGONS'
Example Mail|mail.example.com|alice@example.com|Correct-Horse-7
Example Bank|bank.example.net|alice|s3cret
Photo Club|photos.example.org|alice.w|Tr0ub4dor&3x
LOGONS
echo "== the console asks the plug-in"
run "$host" status || true
run "$host" disable-status || true
run "$host" info 0 || true
for id in 1 2 3 4; do run "$host" property $id || true; done
run "$host" pages || true

echo "== the dashboard in the console (Xvfb)"
display=:77
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
# The console is driven as a user would: a picture of the main page (the logons
# tab), of the password strength tab, of the settings page and of each dialog the
# pages open, taken while it shows (with the typed name in it) and then closed:
# the details of the first account, a category added ("Travel"), renamed
# (cancelled) and deleted again, so the demo user keeps no category. Without pages
# from the plug-in the console shows a page of its own, and the first picture
# shows it.
win_out='Z:'"${out//\//\\}"
# A quoted word of the script language: backslashes and quotes escaped.
script_word() { local w=${1//\\/\\\\}; printf '"%s"' "${w//\"/\\\"}"; }
shot() { script_word "$win_out\\$1.png"; }
pictures="console strength-tab details-dialog settings-page add-category rename-category delete-category"
for picture in $pictures; do rm -f "$out/$picture.png"; done
script="$out/demo-script.txt"
cat >"$script" <<SCRIPT
sleep 1500
screenshot $(shot console)
tab #1013
sleep 1000
screenshot $(shot strength-tab)
select #1000 @0
screenshot-box $(shot details-dialog)
box #1
click #1021
page @1
sleep 500
screenshot $(shot settings-page)
page @0
tab #1012
screenshot-box $(shot add-category)
box #1 Travel
click #1008
select #1003 Travel
screenshot-box $(shot rename-category)
box #2 "Trips abroad"
keys #1003 F2
screenshot-box $(shot delete-category)
box #6
keys #1003 Delete
cancel
SCRIPT
# Switching the prefix to the X11 driver restarts its Wine server, which ends the
# agent: it starts again on the display before the console.
DISPLAY=$display CV_WINE_X11=1 run "${bin}CVAgent.exe" --log 'C:\cvtrace\agent-x11.log' >/dev/null 2>&1 &
sleep 3
DISPLAY=$display CV_WINE_X11=1 run "$host" drive 'Z:'"${script//\//\\}" || true
for picture in $pictures; do
  if [ -f "$out/$picture.png" ]; then
    echo "screenshot: $out/$picture.png"
  else
    echo "(no screenshot $picture.png)"
  fi
done
# Close the prefix's X11 desktop before its display goes; the next run without
# CV_WINE_X11 switches the prefix back to the headless driver.
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
kill $xvfb 2>/dev/null || true

echo "== the plug-in's trace"
for file in "$trace_dir"/*.trc3; do
  [ -e "$file" ] || continue
  echo "-- $(basename "$file")"
  run "$build/tools/tracereader/cvtrace.exe" "C:\\cvtrace\\$(basename "$file")" 2>&1 | tr -d '\r' || true
done
