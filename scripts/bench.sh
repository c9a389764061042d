#!/usr/bin/env bash
# Benchmarks, run on demand; they print figures and assert nothing.
#   stamps: signed copies of the i686 loader.exe stamped per second by the optimised loaderkit,
#           one process per stamp through a pipe, as a web server's download handler runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset kit >/dev/null && cmake --build --preset kit >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 --target loader >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
