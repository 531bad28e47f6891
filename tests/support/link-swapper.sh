#!/usr/bin/env bash
# Moves links into place for the files test while it runs. A Windows program under Wine cannot
# make or move a link (Wine renames what a link points to), so the test asks this loop: it writes
# C:\kltswap\requests\<n>.req (two lines: a path below C:\ to move, and where to, backslashes as
# Windows writes them) and waits for <n>.done, which holds mv's exit status.
#   link-swapper.sh start BUILD_DIR   starts the loop in the background (its pid in the requests folder)
#   link-swapper.sh stop BUILD_DIR    ends it
set -euo pipefail
drive="${WINEPREFIX:-$2/wineprefix}/drive_c"
requests="$drive/kltswap/requests"
case "$1" in
start)
  mkdir -p "$requests"
  setsid bash "$0" loop "$2" </dev/null >/dev/null 2>&1 &
  echo $! > "$requests/swapper.pid"
  ;;
stop)
  [ -f "$requests/swapper.pid" ] && kill "$(cat "$requests/swapper.pid")" 2>/dev/null || true
  rm -f "$requests/swapper.pid"
  ;;
loop)
  # Ends by itself after an hour, should nobody stop it.
  for _ in $(seq 1 72000); do
    for request in "$requests"/*.req; do
      [ -e "$request" ] || continue
      from=$(sed -n 1p "$request" | tr -d '\r' | tr '\\' '/')
      to=$(sed -n 2p "$request" | tr -d '\r' | tr '\\' '/')
      status=0
      mv -T -- "$drive/$from" "$drive/$to" || status=$?
      rm -f "$request"
      # Renamed into place whole: the test reads the status as soon as the name appears.
      echo "$status" > "${request%.req}.status"
      mv -f "${request%.req}.status" "${request%.req}.done"
    done
    sleep 0.05
  done
  ;;
esac
