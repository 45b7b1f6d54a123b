#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# BUILD_DIR, CMAKE_ARGS, BUILD_TARGETS and CTEST_ARGS select another build (CI uses them for
# the sanitizer builds).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
export QT_QPA_PLATFORM=offscreen
# The file-system fault tests mount a tmpfs and read-only folders: that needs root.
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo -E"
$SUDO ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" ${CTEST_ARGS:-}
