#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application with the simulated cameras.
# Without a display it runs under a virtual X server (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)" --target q7v-measure
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/app/q7v-measure" "$@"
else
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$build/app/q7v-measure" "$@"
fi
