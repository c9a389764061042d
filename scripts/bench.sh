#!/usr/bin/env bash
# Benchmarks, run on demand; they print figures and assert nothing.
#   download: a 16 MiB installer from the local site with the real worker, on each build that
#             can run here (x86_64 under 64-bit Wine; i686 under 32-bit Wine where the kernel
#             runs 32-bit programs), beside the pause floor measured in the same run; and the
#             same through the LOADER_RESILIENT_DOWNLOAD worker beside an unpaced WinInet loop
#             with 64 KB reads in the same run, with their ratio.
#   stamps:   signed copies of the i686 loader.exe stamped per second by the optimised
#             loaderkit, one process per stamp through a pipe, as a web server's handler runs it.
#   endpoint: stamped downloads per second through nginx and the resident FastCGI responder (with
#             no store, with SQLite and with PostgreSQL, a throwaway cluster of Debian's packages),
#             loaders' reports per second into each store (every one checked stored), and
#             through nginx and the CGI program under fcgiwrap (scripts/serve.sh, 4 workers each),
#             8 clients at once, beside plain downloads of the same unstamped file through the
#             same nginx in the same run.
# usage: scripts/bench.sh [download] [stamps] [endpoint]   (all three when none is named)
# It brings up its own display and site. BENCH_RUNS sets the download runs per build (3).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
wanted=" ${*:-download stamps endpoint} "
builds=()
[[ "$wanted" == *" download "* ]] && builds+=(win64)
if [ ${#builds[@]} -gt 0 ]; then
  if why=$(scripts/probe-32bit.sh --wine); then
    builds+=(win32)
  else
    echo "bench: the i686 build is not run here: $why"
  fi
fi
read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
for build in "${builds[@]+"${builds[@]}"}"; do
  cmake --preset "$build" -DLOADER_WIN_TESTS=ON >/dev/null
  cmake --build --preset "$build" --target download_bench download_bench_resilient >/dev/null
  wine=/usr/lib/wine/wine64
  [ "$build" = win32 ] && wine=/usr/lib/wine/wine
  for run in $(seq 1 "${BENCH_RUNS:-3}"); do
    echo -n "$build run $run: "
    LOADER_WINE=$wine LOADER_BUILD_DIR="$PWD/build/$build" python3 tests/support/scripted_site.py --fixtures \
      --exec tests/support/wine-run.sh "build/$build/download_bench.exe"
    echo -n "$build run $run, LOADER_RESILIENT_DOWNLOAD: "
    LOADER_WINE=$wine LOADER_BUILD_DIR="$PWD/build/$build" python3 tests/support/scripted_site.py --fixtures \
      --exec tests/support/wine-run.sh "build/$build/download_bench_resilient.exe" | tr '\n' ' '
    echo
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
if [[ "$wanted" == *" stamps "* ]]; then
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
fi

if [[ "$wanted" == *" endpoint "* ]]; then
  mkdir -p "$work/site"
  cp "$work/signed.exe" "$work/site/loader.exe"
  free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
  port=$(free_port) cgi_port=$(free_port)
  bare_port=$(free_port)
  serve() {  # ENDPOINT PORT STORE NAME: serve.sh in the background, once it answers
    SERVE_ENDPOINT=$1 LOADERKIT="$PWD/$kit" scripts/serve.sh --site "$work/site" --program "$work/signed.exe" \
      --port "$2" --name "Nordlys Casino" --address www.nordlys.example --database "$3" >"$work/serve-$4.log" 2>&1 &
    echo $!
  }
  store=$work/funnel.sqlite
  # A throwaway PostgreSQL cluster of Debian's packages on a Unix socket, with its defaults
  # (fsync on), run as nobody where this runs as root: the server refuses root.
  pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
  pg_dir=$(mktemp -d)
  as_pg=()
  if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$pg_dir"; as_pg=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi
  "${as_pg[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -U loaderkit --auth=trust -E UTF8 >/dev/null
  "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/log" -w -o "-k $pg_dir -c listen_addresses=''" start >/dev/null
  pg_store="postgresql://loaderkit@/postgres?host=$pg_dir"
  pg_port=$(free_port)
  bare_pid=$(serve fastcgi "$bare_port" none bare)
  serve_pid=$(serve fastcgi "$port" "$store" fastcgi) cgi_pid=$(serve cgi "$cgi_port" none cgi)
  pg_pid=$(serve fastcgi "$pg_port" "$pg_store" postgresql)
  trap 'kill -TERM "$serve_pid" "$cgi_pid" "$bare_pid" "$pg_pid" 2>/dev/null; wait "$serve_pid" "$cgi_pid" "$bare_pid" "$pg_pid" 2>/dev/null; "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m fast stop >/dev/null; rm -rf "$work" "$pg_dir"; tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
  for log in "$work/serve-fastcgi.log" "$work/serve-cgi.log" "$work/serve-bare.log" "$work/serve-postgresql.log"; do
    for _ in $(seq 1 100); do grep -q "^serve: http" "$log" 2>/dev/null && break; sleep 0.1; done
  done
  rate() {  # requests per second of ab, after a check that every answer was a 200
    local out
    out=$(ab -q -n "$1" -c 8 "$2" 2>&1)
    grep -q "^Failed requests: *0" <<<"$out" && ! grep -q "^Non-2xx" <<<"$out" || { echo "bench: $2 failed: $out" >&2; exit 1; }
    awk '/^Requests per second/ {print $4}' <<<"$out"
  }
  requests=${ENDPOINT_REQUESTS:-4000}
  rate 200 "http://127.0.0.1:$port/download?tag=V101" >/dev/null  # warm-up
  rate 200 "http://127.0.0.1:$cgi_port/download?tag=V101" >/dev/null
  rate 200 "http://127.0.0.1:$bare_port/download?tag=V101" >/dev/null
  bare=$(rate "$requests" "http://127.0.0.1:$bare_port/download?tag=V101")
  stamped=$(rate "$requests" "http://127.0.0.1:$port/download?tag=V101")
  # Reports from 8 clients at once: every one stored.
  report="v=1&event=chosen&id=0123456789abcdef0123&tag=BENCH&lang=JAP&os=10.0.19045&wow64=1&build=paced"
  reports=$(rate "$requests" "http://127.0.0.1:$port/report?$report")
  chosen() { "$kit" funnel --database "$1" --json | python3 -c 'import json, sys; print(sum(g["chosen"] for g in json.load(sys.stdin)["groups"]))'; }
  stored=$(chosen "$store")
  [ "$stored" = "$requests" ] || { echo "bench: $requests reports sent, $stored stored" >&2; exit 1; }
  # The same into PostgreSQL, whose workers write from their queues: every record there once
  # they have caught up.
  rate 200 "http://127.0.0.1:$pg_port/download?tag=V101" >/dev/null
  pg_stamped=$(rate "$requests" "http://127.0.0.1:$pg_port/download?tag=V101")
  pg_reports=$(rate "$requests" "http://127.0.0.1:$pg_port/report?$report")
  for _ in $(seq 1 100); do [ "$(chosen "$pg_store")" = "$requests" ] && break; sleep 0.1; done
  pg_stored=$(chosen "$pg_store")
  [ "$pg_stored" = "$requests" ] || { echo "bench: $requests reports sent to PostgreSQL, $pg_stored stored" >&2; exit 1; }
  cgi=$(rate "$requests" "http://127.0.0.1:$cgi_port/download?tag=V101")
  static=$(rate "$requests" "http://127.0.0.1:$port/loader.exe")
  curl -sf -o "$work/copy.exe" "http://127.0.0.1:$port/download?tag=BENCH"
  osslsigncode verify -CAfile "$work/cert.pem" "$work/copy.exe" >/dev/null || { echo "bench: the served copy does not verify" >&2; exit 1; }
  python3 -c 'import sys; n, b, c, m, r = map(float, sys.argv[1:6]); print("endpoint: responder_per_s=%.0f (with the store) responder_without_store_per_s=%.0f cgi_per_s=%.0f static_per_s=%.0f responder/static=%.3f without_store/static=%.3f cgi/static=%.3f reports_per_s=%.0f reports_stored=%s of %s" % (n, b, c, m, n / m, b / m, c / m, r, sys.argv[6], sys.argv[7]))' "$stamped" "$bare" "$cgi" "$static" "$reports" "$stored" "$requests"
  python3 -c 'import sys; s, p, b, r, q = map(float, sys.argv[1:6]); print("endpoint stores: downloads_per_s no_store=%.0f sqlite=%.0f postgresql=%.0f (postgresql/sqlite=%.3f) reports_per_s sqlite=%.0f postgresql=%.0f reports_stored_in_postgresql=%s of %s" % (b, s, p, p / s, r, q, sys.argv[6], sys.argv[7]))' "$stamped" "$pg_stamped" "$bare" "$reports" "$pg_reports" "$pg_stored" "$requests"
fi
