#!/usr/bin/env bash
# Builds everything and runs every suite: native (ASan+UBSan) and the kit, the fuzz targets
# briefly, the i686 loader.exe check, and the Win32, end-to-end and benchmark-smoke suites under
# Wine on a private Xvfb display: of the x86_64 build always, of the shipping i686 build too
# where the kernel runs 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export LOADER_SETUP_DONE=1
started=$(date +%s)
step() { printf '\n==== %s (%ss)\n' "$1" "$(( $(date +%s) - started ))"; }

step "native: portable code, loaderkit, sanitizers"
cmake --preset native >/dev/null
cmake --build --preset native
# The native suites run while the fuzz targets and the Windows builds are made: the kit's suite
# mostly waits (on its servers, the package's container, the browser), and no build needs a
# result of theirs. Their output follows once the Windows builds are done.
ctest --preset native > build/native-suites.log 2>&1 &
native_pid=$!
prepare_pid=""
trap 'kill $native_pid $prepare_pid 2>/dev/null || true' EXIT

step "fuzz: libFuzzer targets, ${FUZZ_SECONDS:-8} s each"
cmake --preset fuzz -DFUZZ_SECONDS="${FUZZ_SECONDS:-8}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

step "win32: the shipping i686 loader.exe and its optional builds, checked on every machine"
cmake --preset win32 -DLOADER_WIN_TESTS=OFF >/dev/null
cmake --build --preset win32
ctest --preset win32
for exe in loader loader_branded loader_resilient loader_report; do
  printf '%-22s %6s bytes\n' "$exe.exe" "$(stat -c %s "build/win32/$exe.exe")"
done

read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'kill $native_pid $prepare_pid 2>/dev/null || true; tests/support/xvfb.sh stop "$xvfb_pid"' EXIT

step "win64: the x86_64 build's Win32 and end-to-end suites under 64-bit Wine"
# Meanwhile (the Wine suites mostly wait on windows and the local site), the i686 test programs
# are built and their Wine prefix made, where this kernel runs 32-bit programs: exit 2 is a
# failed build, exit 3 a 32-bit Wine that does not start. The slow end-to-end flows then run on
# the i686 build alone, which is what players run; the x86_64 build runs every other case.
slow_flows=""
if why=$(scripts/probe-32bit.sh --wine); then
  (
    { cmake --preset win32 -DLOADER_WIN_TESTS=ON >/dev/null && cmake --build --preset win32; } || exit 2
    LOADER_WINE=/usr/lib/wine/wine LOADER_BUILD_DIR="$PWD/build/win32" tests/support/wine-run.sh cmd /c exit 0 \
      >/dev/null 2>&1 </dev/null || exit 3
  ) > build/win32-prepare.log 2>&1 &
  prepare_pid=$!
  slow_flows=skip
fi
cmake --preset win64 >/dev/null
cmake --build --preset win64

step "native: the suites' results"
native_rc=0
wait "$native_pid" || native_rc=$?
native_pid=""
cat build/native-suites.log
[ "$native_rc" = 0 ] || exit 1

step "win64: the suites"
rm -f build/win64/Testing/Temporary/FirstTest.log
LOADER_SLOW_FLOWS=$slow_flows ctest --preset win64 || exit 1

# The same suites on the shipping i686 build, where this kernel runs 32-bit programs.
prepared=1
if [ -n "$prepare_pid" ]; then
  prepared=0
  wait "$prepare_pid" || prepared=$?
  cat build/win32-prepare.log
  [ "$prepared" = 2 ] && { echo "test: the i686 build failed" >&2; exit 1; }
  [ "$prepared" = 3 ] && why="32-bit Wine is installed but does not start"
fi
prepare_pid=""
if [ "$prepared" != 0 ] && [ "$slow_flows" = skip ]; then
  step "win64: the slow end-to-end flows, since the i686 build cannot run them"
  cp build/win64/Testing/Temporary/LastTest.log build/win64/Testing/Temporary/FirstTest.log
  LOADER_SLOW_FLOWS=only ctest --preset win64 -R '^e2e[.]'
fi
if [ "$prepared" = 0 ]; then
  step "win32: the i686 build's Win32 and end-to-end suites under 32-bit Wine"
  LOADER_WINE=/usr/lib/wine/wine ctest --preset win32
  ran="the x86_64 and the i686 build"
else
  step "i686 suites skipped: $why; the i686 build was built and checked"
  ran="the x86_64 build only (the i686 build did not run under Wine: $why)"
fi
# What could not run here says why: a suite that passes must not hide a test that never ran. A
# case left to the other build ("on one build:") ran there.
skipped=$(grep -h -o -E "\(([A-Za-z_.]+)\) \.\.\. skipped .*" build/native/Testing/Temporary/LastTest.log \
            build/win64/Testing/Temporary/FirstTest.log build/win64/Testing/Temporary/LastTest.log \
            build/win32/Testing/Temporary/LastTest.log 2>/dev/null | grep -v "on one build:" \
          | sed -E 's/^\(([^)]*)\) \.\.\. skipped /  \1: /' | sort -u || true)
[ -z "$skipped" ] || printf 'skipped here:\n%s\n' "$skipped"
step "all suites passed, Wine suites on $ran"
