#!/bin/bash
# What a screen reader is told: starts the program under a virtual display with the
# accessibility bus on a private session bus, then walks its windows with AT-SPI
# (bench/atspi_walk.py) and prints each window's tree: role, name, description, text.
#   bash bench/atspi_walk.sh DATA_FOLDER SCALE STEP...
# STEP: dump | press:<button name> | item:<menu item or control name> | key:<xdotool key>
#       | type:<field name>=<text> | echo:<heading>, e.g.
#   bash bench/atspi_walk.sh data 1 press:執行報告 dump press:ポイント執行報告 \
#        type:腕立て伏せの回数=12 dump
# After the steps it lists what it found wrong: controls without a name, letter-spaced or
# marked-up names and descriptions, invisible characters, labels named apart from what they
# show, and each slider's value to hold against the window.
# SCREEN (default 1280x1024) sets the virtual screen; a window manager (openbox) runs when
# there is one. Needs python3-pyatspi, at-spi2-core and xdotool (not needed by the build or
# the tests).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=${QUORVEL:-$here/../build/app/quorvel}
data=$1; scale=$2; shift 2
export data scale program here
# xvfb-run outside, so its display goes when the walk ends.
exec xvfb-run -a -s "-screen 0 ${SCREEN:-1280x1024}x24" dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  if command -v openbox >/dev/null; then openbox & fi
  sleep 1
  cd "$data"
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_SCALE_FACTOR="$scale" timeout 120 "$program" &
  program_pid=$!
  sleep 4
  status=0
  /usr/bin/python3 "$here/atspi_walk.py" "$@" || status=$?
  kill "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  exit $status
' walk "$@"
