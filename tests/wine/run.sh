#!/usr/bin/env bash
# The Wine tier: runs the Windows build's test program under Wine on an English
# and a Simplified Chinese Windows 7 and on an English Windows 8 and 10, each on
# a fresh prefix, and checks both libraries' export tables. Run after
# `cmake --build --preset windows`.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build/windows
work=$root/build/wine
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

dll=$build/settingtool/HX-352SettingToolDll.dll
util_dll=$build/Driver/DriverInstall_Src/driverutil/HX-352DriverUtilDll.dll
job=$build/settingtool/selftest_job.bin
program=$build/tests/wine/hx352_wine_tests.exe
monitor=$build/tests/wine/monitor/VelmorUSBMon.dll
monitor_ui=$build/tests/wine/monitor/VelmorUSBMonUI.dll
def=$root/settingtool/HX-352SettingToolDll.def
util_def=$root/Driver/DriverInstall_Src/driverutil/HX-352DriverUtilDll.def

for file in "$dll" "$util_dll" "$job" "$program" "$monitor" "$monitor_ui"; do
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
serial_pid=

cleanup() {
  "$wineserver" -k 2>/dev/null || true
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [[ -n $serial_pid ]]; then kill "$serial_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# Windows need a display that the prefix's wineserver sees from its start, so a
# tier whose programs open windows sets needs_display=1: Xvfb then runs before
# the first Wine process. The port settings exports and the window layer's
# checks open dialogs.
needs_display=1
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
# state of an earlier run (a registered monitor, a started spooler, created
# registry keys) reaches the next.
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
fi

fresh_prefix() {
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  cp -a --reflink=auto "$clean" "$WINEPREFIX"
}

# The program loads the libraries by name, so they sit in the directory it runs
# in; so do the stand-in monitor's files, where the installation looks for them.
run_dir=$work/run
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$program" "$dll" "$util_dll" "$job" "$monitor" "$monitor_ui" "$run_dir/"

# The serial port COM5 is a pseudo-terminal that `script` holds open, so that
# its line settings last from one open to the next as a device's do.
tty_file=$work/serial.tty
rm -f "$tty_file"
script -q -c "tty >'$tty_file'; exec sleep 3600" /dev/null </dev/null >/dev/null 2>&1 &
serial_pid=$!
for _ in $(seq 50); do
  [[ -s $tty_file ]] && break
  sleep 0.1
done
serial_tty=$(cat "$tty_file" 2>/dev/null || true)
[[ -c $serial_tty ]] || { echo "wine: no pseudo-terminal for the serial port" >&2; exit 2; }

total_passed=0
total_failed=0
failed_runs=()

# run_program LABEL LANGUAGE WINDOWS [VAR=VALUE...]: one run of the program on a
# fresh prefix playing Windows 7, 8 or 10; its lines are shown with the label in
# front.
run_program() {
  local label=$1 language=$2 windows=$3
  shift 3
  local out=$run_dir/$label.out err=$run_dir/$label.err status=0
  fresh_prefix
  if [[ $windows != 7 ]]; then "$wine" winecfg -v "win$windows" >>"$work/wineboot.log" 2>&1; fi
  ln -sfn "$serial_tty" "$WINEPREFIX/dosdevices/com5"
  stty -F "$serial_tty" 4800
  # A dialog left open would wait for ever; the time limit ends such a run.
  (cd "$run_dir" && env "$@" timeout 600 "$wine" hx352_wine_tests.exe --lang "$language" --job selftest_job.bin \
    --windows "$windows" --serial COM5) >"$out" 2>"$err" || status=$?
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
  # The program reports its own crashes (and then exits 3). Wine's other
  # processes (services, device hosts) share its error output: a crash report of
  # theirs after a complete, successful run is shown but not counted.
  if grep -q 'hx352_wine_tests: unhandled exception' "$err"; then
    echo "[$label] crashed:"
    sed "s/^/[$label] /" "$err"
    failed_runs+=("$label")
  elif [[ $status -ne 0 || -z $summary ]]; then
    echo "[$label] exit status $status"
    sed "s/^/[$label] /" "$err"
    failed_runs+=("$label")
  elif grep -q 'wine: Unhandled' "$err"; then
    echo "[$label] note: another Wine process crashed during the run:"
    grep 'wine: Unhandled' "$err" | sed "s/^/[$label] /"
  fi
}

run_program en en 7
run_program zh zh 7 LC_ALL=zh_CN.UTF-8
run_program win8 en 8
run_program win10 en 10

# check_exports LABEL LIB DEF [ALLOWED_IMPORTS]: the export and import tables of one DLL.
check_exports() {
  local label=$1 lib=$2 def=$3 allowed=${4:-}
  if cmake -DOBJDUMP="$objdump" -DLIB="$lib" -DDEF="$def" -DALLOWED_IMPORTS="$allowed" \
    -P "$root/tests/wine/check_pe_exports.cmake"; then
    total_passed=$((total_passed + 1))
  else
    total_failed=$((total_failed + 1))
    failed_runs+=("$label")
  fi
}
check_exports "settings library export table" "$dll" "$def"
check_exports "driver utility library export table" "$util_dll" "$util_def" HX-352SettingToolDll.dll

if [[ ${#failed_runs[@]} -gt 0 ]]; then echo "wine: failed: ${failed_runs[*]}"; fi
echo "wine: $total_passed passed, $total_failed failed"
[[ ${#failed_runs[@]} -eq 0 && $total_failed -eq 0 ]]
