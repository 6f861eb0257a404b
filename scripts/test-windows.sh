#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-win/ and runs them under wine:
# the verification driver as the README runs it, then every unit test through ctest.
# Needs no display and no standard input; the wine prefix lives in the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-win
started=$SECONDS

export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all                   # wine's diagnostics would land in captured stderr
export WINEDLLOVERRIDES='mscoree,mshtml='  # never offer to install Mono or Gecko
unset DISPLAY WAYLAND_DISPLAY           # nothing here opens a window

mkdir -p "$build"
# A session an interrupted run left behind would keep the persistent server below from
# starting; it belongs to this prefix, so nothing else is touched.
if [ -d "$WINEPREFIX" ]; then
  wineserver --kill 2>/dev/null || true
  wineserver --wait
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the wine prefix $WINEPREFIX"
  if ! wineboot --init </dev/null >"$build/wineboot.log" 2>&1; then
    cat "$build/wineboot.log" >&2
    exit 1
  fi
  wineserver --wait
fi
# One wine session for the whole run rather than one started and stopped per program; it
# goes away with the script. The session's first program starts wine's background services,
# which keep its standard output open as long as the session lives, so wineboot starts them
# here, on /dev/null: otherwise the first test program's output would never end and test
# discovery would wait for it until its timeout.
wineserver --persistent
trap 'wineserver --kill || true' EXIT
wineboot </dev/null >/dev/null 2>&1
# wine's null graphics driver gives the console output test a console without a display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1

cmake -S . -B "$build" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake \
  -DVEXLOR_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$build" -j2

echo "-- application manifests"
for program in cli/vexlor-bindings.exe driver/vexlor-verify.exe; do  # RT_MANIFEST (24) #1
  x86_64-w64-mingw32-objdump -p "$build/$program" | grep -A2 'Entry: ID: 0x000018,' | grep -q 'Entry: ID: 0x000001,' &&
    grep -aq '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' "$build/$program" ||
    { echo "$program: no manifest asking for long paths" >&2; exit 1; }
done

echo "-- vexlor_bindings.dll: the C interface's functions alone, and no compiler DLL"
dll=$build/patcher/vexlor_bindings.dll
exported=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\t\[ *[0-9]*\] \(vexlor_[a-z_]*\)$/\1/p' | sort)
declared=$(grep -o 'vexlor_bindings_[a-z_]*(' patcher/include/vexlor/bindings_c.h | tr -d '(' | sort -u)
if [ -z "$exported" ] || [ "$exported" != "$declared" ]; then
  printf '%s exports:\n%s\nbut the header declares:\n%s\n' "$dll" "$exported" "$declared" >&2
  exit 1
fi
if x86_64-w64-mingw32-objdump -p "$dll" | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
  echo "$dll needs the compiler's runtime DLLs beside it" >&2
  exit 1
fi

echo "-- vexlor-verify.exe under wine"
expected='PASS idempotency
PASS write_once_backup
PASS unpatch_restore
PASS unpatch_marker_erase
PASS unpatch_noop
PASS atomic_write_crash_safety
ALL PASS'
status=0
output=$(wine "$build/driver/vexlor-verify.exe" </dev/null 2>"$build/verify.stderr") || status=$?
# A Windows console program ends its lines in CR LF.
output=$(printf '%s' "$output" | tr -d '\r')
if [ "$status" -ne 0 ] || [ "$output" != "$expected" ] || [ -s "$build/verify.stderr" ]; then
  printf 'vexlor-verify.exe exited with %s and printed:\n%s\n' "$status" "$output" >&2
  cat "$build/verify.stderr" >&2
  exit 1
fi
printf '%s\n' "$output"

echo "-- unit tests under wine"
ctest --test-dir "$build" --output-on-failure -j2 </dev/null

echo "Windows build and tests: $((SECONDS - started)) s"
