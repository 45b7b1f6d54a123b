#!/usr/bin/env bash
# Renders every window and dialog in both languages into PNG files: scripts/screenshots.sh OUTDIR
# Runs under a virtual X server when xvfb-run is there (a 1600 x 1000 screen), else offscreen;
# settings and files go to a temporary folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:?usage: scripts/screenshots.sh OUTDIR}" && cd "$1" && pwd)"
build="${BUILD_DIR:-$root/build}"
[ -x "$build/app/q7v-screenshots" ] || { cmake -S "$root" -B "$build" -G Ninja >/dev/null; cmake --build "$build" --target q7v-screenshots; }
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
export Q7V_REGISTRY_FILE="$tmp/registry.dat" Q7V_CAMSDK_CONFIG_DIR="$tmp"
run=()
if command -v xvfb-run >/dev/null && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  run=(xvfb-run -a -s "-screen 0 1600x1000x24")
  export QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
fi
for lang in en zh; do (cd "$tmp" && "${run[@]}" "$build/app/q7v-screenshots" "$out" "$lang"); done
ls "$out"
