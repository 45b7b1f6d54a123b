#!/usr/bin/env bash
# Renders every window and dialog in both languages into PNG files: scripts/screenshots.sh OUTDIR
# Runs offscreen (no display needed); settings and files go to a temporary folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:?usage: scripts/screenshots.sh OUTDIR}" && cd "$1" && pwd)"
build="${BUILD_DIR:-$root/build}"
[ -x "$build/app/q7v-screenshots" ] || { cmake -S "$root" -B "$build" -G Ninja >/dev/null; cmake --build "$build" --target q7v-screenshots; }
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" Q7V_REGISTRY_FILE="$tmp/registry.dat" Q7V_CAMSDK_CONFIG_DIR="$tmp"
for lang in en zh; do (cd "$tmp" && "$build/app/q7v-screenshots" "$out" "$lang"); done
ls "$out"
