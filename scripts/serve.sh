#!/usr/bin/env bash
# Serves a download site and the per-download stamping endpoint on 127.0.0.1:PORT with Debian's
# nginx and loaderkit's resident FastCGI responder (or, with SERVE_ENDPOINT=cgi, loaderkit as a
# CGI program under fcgiwrap), in the foreground, as the current user, from a configuration
# generated under build/serve/PORT. It starts the responder again should it end. SIGINT or
# SIGTERM stops all of it; nothing is left running.
set -euo pipefail
usage() {
  cat >&2 <<'EOF'
usage: scripts/serve.sh --site DIR --program SIGNED_EXE --port PORT
                        [--name NAME [--address ADDRESS [--company COMPANY]]] [--image FILE]
                        [--file-name NAME] [--database PATH]
Serves DIR's files at / and, at /download?tag=TAG, SIGNED_EXE stamped with TAG, a fresh download
id and the names given here; at /report, the reports of loaders built with LOADER_REPORT_URL.
Each copy served and each report is stored in the SQLite file PATH (default: build/serve/PORT/
funnel.sqlite, kept from one run to the next), or in the PostgreSQL server that a postgresql://... URI names (none: no store);
read it with loaderkit funnel --database PATH. Stop it with
Ctrl+C (SIGINT) or SIGTERM.
  SERVE_WORKERS        responder worker processes, or CGI processes kept ready (default 4)
  SERVE_ENDPOINT       fastcgi (default): loaderkit download --fastcgi; cgi: fcgiwrap runs
                       loaderkit download per request
  SERVE_LIMIT_RATE     bytes per second per answer, as nginx's limit_rate (e.g. 1500k; default none)
  LOADERKIT            the loaderkit to run (default: build/kit/loaderkit, built if missing)
EOF
  exit 2
}
site="" program="" port="" name="" address="" company="" image="" file_name="" database=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { [ "$1" = --help ] || [ "$1" = -h ] || echo "serve: $1 needs a value" >&2; usage; }
  case "$1" in
    --site) site=$2 ;; --program) program=$2 ;; --port) port=$2 ;; --name) name=$2 ;;
    --address) address=$2 ;; --company) company=$2 ;; --image) image=$2 ;; --file-name) file_name=$2 ;;
    --database) database=$2 ;;
    *) echo "serve: unknown option $1" >&2; usage ;;
  esac
  shift 2
done
fail() { echo "serve: $*" >&2; exit 1; }
[ -n "$site" ] && [ -n "$program" ] && [ -n "$port" ] || { echo "serve: --site, --program and --port are required" >&2; usage; }
[ -d "$site" ] || fail "$site is not a folder"
[ -f "$program" ] || fail "$program is not a file"
[ -z "$image" ] || [ -f "$image" ] || fail "$image is not a file"
rate=${SERVE_LIMIT_RATE:-0}
endpoint=${SERVE_ENDPOINT:-fastcgi}
[ "$endpoint" = fastcgi ] || [ "$endpoint" = cgi ] || fail "SERVE_ENDPOINT must be fastcgi or cgi"
workers=${SERVE_WORKERS:-${SERVE_CGI_PROCESSES:-4}}
[[ "$workers" =~ ^[1-9][0-9]{0,2}$ ]] || fail "SERVE_WORKERS must be a number from 1 to 999"
[[ "$rate" =~ ^[0-9]+[km]?$ ]] || fail "SERVE_LIMIT_RATE must be a number of bytes, with k or m if wanted"
[[ "$port" =~ ^[0-9]{1,5}$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || fail "--port must be 1 to 65535"
# The values go into nginx's configuration as quoted strings: nothing that could end or extend one.
for v in "$name" "$address" "$company" "$file_name" "$site" "$program" "$image" "$database"; do
  [[ "$v" != *[\"\\\$\;\{\}]* && "$v" != *$'\n'* ]] || fail "values may not hold \" \\ \$ ; { } or line breaks: $v"
done

root=$(cd "$(dirname "$0")/.." && pwd)
kit=${LOADERKIT:-$root/build/kit/loaderkit}
if [ -z "${LOADERKIT:-}" ] && [ ! -x "$kit" ]; then
  (cd "$root" && cmake --preset kit >/dev/null && cmake --build --preset kit >/dev/null)
fi
[ -x "$kit" ] || fail "no loaderkit at $kit"
kit=$(realpath "$kit") program=$(realpath "$program") site=$(realpath "$site")
[ -z "$image" ] || image=$(realpath "$image")

conf=$root/build/serve/$port
# What an earlier run generated goes; the default store is the endpoint's, and stays with its
# rows (and its write-ahead log) from one run to the next.
mkdir -p "$conf"
find "$conf" -mindepth 1 -maxdepth 1 ! -name 'funnel.sqlite' ! -name 'funnel.sqlite-wal' ! -name 'funnel.sqlite-shm' \
  -exec rm -rf {} +
mkdir -p "$conf/temp"
case "$database" in
  none) database="" ;;
  postgresql://*|postgres://*) ;;
  *) database=$(realpath -m "${database:-$conf/funnel.sqlite}") ;;
esac
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
# The settings: the responder's own environment, as systemd gives it the settings file (it takes
# no file path from a request); the CGI program's parameters, which fcgiwrap makes its environment.
settings=""
for setting in "LOADERKIT_PROGRAM=$program" "LOADERKIT_NAME=$name" "LOADERKIT_ADDRESS=$address" \
               "LOADERKIT_COMPANY=$company" "LOADERKIT_IMAGE=$image" "LOADERKIT_FILE_NAME=$file_name" \
               "LOADERKIT_DATABASE=$database"; do
  [ -n "${setting#*=}" ] || continue
  if [ "$endpoint" = fastcgi ]; then
    export "${setting?}"
  else
    settings+=$(printf '      fastcgi_param %s "%s";' "${setting%%=*}" "${setting#*=}")$'\n'
  fi
done
cat >"$conf/nginx.conf" <<EOF
$user_line
daemon off;
worker_processes 2;
pid $conf/nginx.pid;
error_log $conf/error.log notice;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  client_body_temp_path $conf/temp/body;
  proxy_temp_path $conf/temp/proxy;
  fastcgi_temp_path $conf/temp/fastcgi;
  uwsgi_temp_path $conf/temp/uwsgi;
  scgi_temp_path $conf/temp/scgi;
  log_format downloads '\$remote_addr [\$time_local] "\$request" \$status \$body_bytes_sent '
                       'download_id=\$upstream_http_x_download_id';
  access_log $conf/access.log downloads;
  server {
    listen 127.0.0.1:$port;
    root $site;
    limit_rate $rate;
    location / { try_files \$uri =404; }
    # Exactly /download and /report: the site's own /downloads/... and /download-faq.txt stay its files.
    location ~ ^/(download|report)\$ {
      include /etc/nginx/fastcgi_params;
      fastcgi_param SCRIPT_FILENAME $kit;
$settings
      # An answer fits these buffers whole: nginx takes it at once, and a slow client never holds
      # the endpoint.
      fastcgi_buffers 16 16k;
      fastcgi_pass unix:$conf/endpoint.sock;
    }
  }
}
EOF

nginx_pid="" cgi_pid=""
stop() {
  trap - INT TERM EXIT
  [ -z "$nginx_pid" ] || kill -TERM "$nginx_pid" 2>/dev/null || true
  # The endpoint runs in a process group of its own: its supervising loop, the responder and its
  # workers (or fcgiwrap and its prepared children).
  [ -z "$cgi_pid" ] || kill -TERM -- "-$cgi_pid" 2>/dev/null || true
  [ -z "$nginx_pid" ] || wait "$nginx_pid" 2>/dev/null || true
  [ -z "$cgi_pid" ] || wait "$cgi_pid" 2>/dev/null || true
  # Children outlive their parent by a moment: wait until the group is empty.
  for _ in $(seq 1 100); do
    [ -n "$cgi_pid" ] && kill -0 -- "-$cgi_pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$conf/endpoint.sock"
}
trap 'stop; exit 0' INT TERM
trap stop EXIT
if [ "$endpoint" = fastcgi ]; then
  # The supervisor that systemd is in production: the responder is started again if it ends.
  setsid bash -c 'trap "kill -TERM \$child 2>/dev/null; wait \$child; exit 0" TERM
    while :; do "$0" download --fastcgi --socket "$1" --workers "$2" & child=$!; wait $child; sleep 0.2; done' \
    "$kit" "$conf/endpoint.sock" "$workers" </dev/null &
else
  setsid fcgiwrap -f -c "$workers" -s "unix:$conf/endpoint.sock" -p "$kit" </dev/null &
fi
cgi_pid=$!
nginx -e "$conf/error.log" -p "$conf" -c "$conf/nginx.conf" </dev/null &
nginx_pid=$!
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && [ -S "$conf/endpoint.sock" ] && break
  kill -0 "$nginx_pid" 2>/dev/null && kill -0 "$cgi_pid" 2>/dev/null || fail "nginx or the endpoint did not start; see $conf/error.log"
  sleep 0.05
done
echo "serve: http://127.0.0.1:$port/ serves $site; /download?tag=TAG stamps $program (logs in $conf)"
# Either one ending ends both.
wait -n "$nginx_pid" "$cgi_pid" || true
