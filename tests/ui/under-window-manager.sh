#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a window manager (openbox), for what offscreen
# rendering cannot show: whether a window is painted on screen and how the manager frames it.
# Exits 77 (skipped) when Xvfb or openbox is not installed.
set -euo pipefail
command -v Xvfb >/dev/null && command -v openbox >/dev/null || { echo "Xvfb or openbox missing"; exit 77; }
work=$(mktemp -d)
xvfb="" wm=""
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The server picks a free display number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
HOME="$work" openbox --sm-disable 2>"$work/openbox.log" &
wm=$!
sleep 1  # openbox takes the screen
# Under LeakSanitizer: the X11 platform's D-Bus and font libraries keep memory to the end.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan-xserver.supp"
QT_QPA_PLATFORM=xcb "$@"
