#!/usr/bin/env bash
# The browser's memory with the web pane: resident set (VmRSS) of the browser
# and every process under it (the web engine's helpers), standing in the demo
# world zk with the pane never opened, then with the worlds page shown in it,
# then with the pane closed again. Release build (scripts/bench builds it and
# runs this as bench_web_rss); needs xdotool and a display (it starts Xvfb
# itself when there is none).
#
#   bench/shell/web_rss.sh [BUILD_DIR]     (default build/release)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ge 1 ]; then build=$(cd "$1" && pwd)
elif [ -x "$here/../zelnik" ]; then build=$(cd "$here/.." && pwd)  # installed as build/release/bench/bench_web_rss
else build=$(cd "$here/../../build/release" && pwd); fi
for b in zelnik zelnik-server; do
  [ -x "$build/$b" ] || { echo "web_rss: no $build/$b (build the release tree first)" >&2; exit 1; }
done

if [ -z "${DISPLAY:-}" ]; then
  export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
  chmod 700 "$XDG_RUNTIME_DIR"
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$build"
fi
# The engine's sandbox does not run as root; only this script turns it off.
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1

work=$(mktemp -d)
server_pid="" browser_pid=""
cleanup() {
  [ -n "$browser_pid" ] && kill "$browser_pid" 2>/dev/null && sleep 2
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command in the rest of the arguments.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    if "$@"; then return 0; fi
    sleep 0.2
  done
  return 1
}

"$build/zelnik-server" --data "$work/data" --demo --universe-port 0 --http-port 0 2>"$work/server.log" &
server_pid=$!
wait_for 20 grep -q "world lagoon on" "$work/server.log" || { echo "web_rss: the server did not start" >&2; exit 1; }
port=$(sed -n 's/.*universe server on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/server.log" | head -1)

mkdir -p "$work/prog"
cp "$build/zelnik" "$work/prog/"
printf '[universe]\nhost=127.0.0.1\nport=%s\n[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n' \
  "$port" >"$work/prog/zelnik.ini"
(cd "$work/prog" && ZELNIK_UNATTENDED=1 exec ./zelnik 2>"$work/browser.log") &
browser_pid=$!

window=""
find_window() { window=$(xdotool search --all --pid "$browser_pid" --name '^zk at ' 2>/dev/null | head -1); [ -n "$window" ]; }
wait_for 60 find_window || { echo "web_rss: the browser did not enter zk" >&2; exit 1; }

# KiB resident in a process and all its descendants.
tree_rss() {
  local pid=$1 kb child
  kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
  for child in $(pgrep -P "$pid" || true); do kb=$((kb + $(tree_rss "$child"))); done
  echo "${kb:-0}"
}
helpers() { { pgrep -P "$browser_pid" || true; } | wc -l; }
keys() {
  xdotool windowfocus --sync "$window" key --delay 150 "$@"
}

sleep 10  # the world's models in, the first frames drawn
closed=$(tree_rss "$browser_pid")
closed_helpers=$(helpers)

keys alt+s w
sleep 2
keys alt+w w
wait_for 30 grep -q "GET /misc/zk.htm 200" "$work/server.log" || { echo "web_rss: the worlds page was not asked for" >&2; exit 1; }
sleep 8
opened=$(tree_rss "$browser_pid")
opened_helpers=$(helpers)

keys alt+s w
sleep 8
reclosed=$(tree_rss "$browser_pid")
reclosed_helpers=$(helpers)

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
printf 'pane never opened:      %7s MB (%d processes under the browser)\n' "$(mb "$closed")" "$closed_helpers"
printf 'worlds page in the pane: %6s MB (%d)\n' "$(mb "$opened")" "$opened_helpers"
printf 'pane closed again:      %7s MB (%d)\n' "$(mb "$reclosed")" "$reclosed_helpers"
if [ -n "${ZELNIK_BENCH_RESULTS:-}" ]; then
  # program, figure, value, unit, reference, reference value, goal
  printf 'bench_web_rss\tRSS, pane never opened\t%s\tMB\t\t0\t\n' "$(mb "$closed")" >>"$ZELNIK_BENCH_RESULTS"
  printf 'bench_web_rss\tRSS, worlds page in the pane\t%s\tMB\tpane never opened\t%s\t\n' \
    "$(mb "$opened")" "$(mb "$closed")" >>"$ZELNIK_BENCH_RESULTS"
  printf 'bench_web_rss\tRSS, pane closed again\t%s\tMB\tpane never opened\t%s\t\n' \
    "$(mb "$reclosed")" "$(mb "$closed")" >>"$ZELNIK_BENCH_RESULTS"
fi
