#!/usr/bin/env bash
# start: launches Xvfb on the first free display and prints "DISPLAY PID".
# stop PID: stops that Xvfb by its process id.
set -euo pipefail
case "${1:-}" in
start)
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && { echo ":$n $pid"; exit 0; }
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  echo "xvfb.sh: no free display" >&2; exit 1 ;;
stop)
  kill "$2" 2>/dev/null || true ;;
*) echo "usage: xvfb.sh start | stop PID" >&2; exit 2 ;;
esac
