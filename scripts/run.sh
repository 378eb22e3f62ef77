#!/usr/bin/env bash
# Builds Tavimo and runs it with the simulated sensor and virtual output ports.
# Any arguments go to tavimo (for example a configuration file or -Embedded).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIMO_BUILD_TESTS=OFF -DTAVIMO_BUILD_BENCH=OFF >/dev/null
cmake --build build --target tavimo

[ -n "${XDG_RUNTIME_DIR:-}" ] && ports="$XDG_RUNTIME_DIR/tavimo/ports" || ports="/tmp/tavimo-$(id -u)/ports"
echo "Tavimo: virtual output ports appear under $ports"
exec build/bin/tavimo "$@"
