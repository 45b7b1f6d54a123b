#!/usr/bin/env bash
# Builds the program in the default build and makes the Debian package
# build/q7v-measure_<version>_amd64.deb (CPack's DEB generator; dependencies from the shared
# libraries plus the fonts and Qt parts the program needs at run time).
# Install it with: sudo apt install ./build/q7v-measure_*.deb
# BUILD_DIR selects another build folder; JOBS the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja
cmake --build "$build" --parallel "${JOBS:-$(nproc)}" --target q7v-measure
rm -f "$build"/q7v-measure_*.deb
(cd "$build" && cpack -G DEB -C RelWithDebInfo)
ls "$build"/q7v-measure_*.deb
