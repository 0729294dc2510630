#!/usr/bin/env bash
# The Wine tier: runs the Windows build's test program under Wine, once on an
# English and once on a Simplified Chinese system, and checks the settings
# library's export table. Run after `cmake --build --preset windows`.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build/windows
work=$root/build/wine
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

dll=$build/settingtool/HX-352SettingToolDll.dll
job=$build/settingtool/selftest_job.bin
program=$build/tests/wine/hx352_wine_tests.exe
def=$root/settingtool/HX-352SettingToolDll.def

for file in "$dll" "$job" "$program"; do
  [[ -f $file ]] || { echo "wine: missing $file (build the windows preset first)" >&2; exit 2; }
done
for tool in "$wine" "$wineserver"; do
  [[ -x $tool ]] || { echo "wine: missing $tool (tools/ensure-deps.sh wine)" >&2; exit 2; }
done
objdump=$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
objdump=${objdump:-x86_64-w64-mingw32-objdump}

mkdir -p "$work"
export WINEPREFIX=$work/pfx WINEDEBUG=-all
clean=$work/pfx.clean
xvfb_pid=

cleanup() {
  "$wineserver" -k 2>/dev/null || true
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# Windows need a display that the prefix's wineserver sees from its start, so a
# tier whose programs open windows sets needs_display=1: Xvfb then runs before
# the first Wine process. This tier opens no window and runs without one.
needs_display=0
start_display() {
  local number=90
  while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$number
  for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X$number ]] && return 0
    sleep 0.1
  done
  echo "wine: Xvfb did not start (see $work/xvfb.log)" >&2
  exit 2
}
if [[ $needs_display == 1 ]]; then start_display; else unset DISPLAY; fi

# A clean prefix is made once per Wine version and copied for every run, so no
# state of an earlier run reaches this one.
wine_version=$("$wine" --version)
if [[ ! -f $clean/.hx352-wine-version || $(cat "$clean/.hx352-wine-version") != "$wine_version" ]]; then
  echo "wine: preparing a clean prefix ($wine_version)"
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$clean"
  "$wine" wineboot -i >"$work/wineboot.log" 2>&1
  "$wineserver" -w
  # No debugger is started for a crash: the crash shows on stderr instead.
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
    >>"$work/wineboot.log" 2>&1
  "$wineserver" -w
  echo "$wine_version" >"$WINEPREFIX/.hx352-wine-version"
  cp -a --reflink=auto "$WINEPREFIX" "$clean.tmp"
  mv "$clean.tmp" "$clean"
else
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  cp -a --reflink=auto "$clean" "$WINEPREFIX"
fi

# The program loads the library by name, so both sit in the directory it runs in.
run_dir=$work/run
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$program" "$dll" "$job" "$run_dir/"

total_passed=0
total_failed=0
failed_runs=()

# run_program LABEL LANGUAGE [VAR=VALUE...]: one run of the program; its lines
# are shown with the label in front.
run_program() {
  local label=$1 language=$2
  shift 2
  local out=$run_dir/$label.out err=$run_dir/$label.err status=0
  (cd "$run_dir" && env "$@" "$wine" hx352_wine_tests.exe --lang "$language" --job selftest_job.bin) \
    >"$out" 2>"$err" || status=$?
  sed "s/^/[$label] /" "$out"
  local summary
  summary=$(grep -E '^wine: [0-9]+ passed, [0-9]+ failed' "$out" | tail -n 1 || true)
  if [[ -n $summary ]]; then
    local counts=(${summary//[^0-9 ]/})
    total_passed=$((total_passed + counts[0]))
    total_failed=$((total_failed + counts[1]))
  else
    total_failed=$((total_failed + 1))
  fi
  if grep -q 'wine: Unhandled' "$err"; then
    echo "[$label] crashed:"
    sed "s/^/[$label] /" "$err"
    failed_runs+=("$label")
  elif [[ $status -ne 0 || -z $summary ]]; then
    echo "[$label] exit status $status"
    sed "s/^/[$label] /" "$err"
    failed_runs+=("$label")
  fi
}

run_program en en
run_program zh zh LC_ALL=zh_CN.UTF-8

if cmake -DOBJDUMP="$objdump" -DLIB="$dll" -DDEF="$def" -P "$root/tests/wine/check_pe_exports.cmake"; then
  total_passed=$((total_passed + 1))
else
  total_failed=$((total_failed + 1))
  failed_runs+=("export table")
fi

if [[ ${#failed_runs[@]} -gt 0 ]]; then echo "wine: failed: ${failed_runs[*]}"; fi
echo "wine: $total_passed passed, $total_failed failed"
[[ ${#failed_runs[@]} -eq 0 && $total_failed -eq 0 ]]
