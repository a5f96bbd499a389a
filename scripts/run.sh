#!/usr/bin/env bash
# Sets everything up, builds the program folder and starts Velmora.
# Arguments are passed to the program (for example /untd, /unth or /inir).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh default
program="build/default/install/Velmora_TAVI"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting Velmora in a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$program" "$@"
fi
exec "$program" "$@"
