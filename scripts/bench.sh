#!/usr/bin/env bash
# Benchmarks, run on demand; they print figures and assert nothing.
#   download: a 16 MiB installer from the local site with the real worker, on each build that
#             can run here (x86_64 under 64-bit Wine; i686 under 32-bit Wine where the kernel
#             runs 32-bit programs), beside the pause floor measured in the same run.
#   stamps:   signed copies of the i686 loader.exe stamped per second by the optimised
#             loaderkit, one process per stamp through a pipe, as a web server's handler runs it.
# It brings up its own display and site. BENCH_RUNS sets the download runs per build (3).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
builds=(win64)
if why=$(scripts/probe-32bit.sh --wine); then
  builds+=(win32)
else
  echo "bench: the i686 build is not run here: $why"
fi
read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
for build in "${builds[@]}"; do
  cmake --preset "$build" -DLOADER_WIN_TESTS=ON >/dev/null
  cmake --build --preset "$build" --target download_bench >/dev/null
  wine=/usr/lib/wine/wine64
  [ "$build" = win32 ] && wine=/usr/lib/wine/wine
  for run in $(seq 1 "${BENCH_RUNS:-3}"); do
    echo -n "$build run $run: "
    LOADER_WINE=$wine LOADER_BUILD_DIR="$PWD/build/$build" python3 tests/support/scripted_site.py --fixtures \
      --exec tests/support/wine-run.sh "build/$build/download_bench.exe"
  done
done

cmake --preset kit >/dev/null && cmake --build --preset kit >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target loader >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"; tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Bench Operator" >/dev/null 2>&1
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -in build/win32/loader.exe \
  -out "$work/signed.exe" >/dev/null
count=${STAMP_COUNT:-2000}
kit=build/kit/loaderkit
start=$(date +%s.%N)
for i in $(seq 1 "$count"); do
  "$kit" stamp --in - --out - --tag V101 --id "$i" --name "Nordlys Casino" --address www.nordlys.example \
    <"$work/signed.exe" >"$work/copy.exe"
done
end=$(date +%s.%N)
osslsigncode verify -CAfile "$work/cert.pem" "$work/copy.exe" >/dev/null || { echo "bench: the last copy does not verify" >&2; exit 1; }
python3 - "$start" "$end" "$count" "$(stat -c %s "$work/signed.exe")" <<'PY'
import sys
start, end, count, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
print("stamp_bench: copies=%d program_bytes=%d seconds=%.2f stamps_per_second=%.0f (one process each, signature verified)"
      % (count, size, end - start, count / (end - start)))
PY
