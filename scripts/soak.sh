#!/usr/bin/env bash
# The soak (not in CI): the module at 512 Hz with two outputs for a given time, the simulated
# sensor delivering each sample at its due time, real-time scheduling where the system grants
# it (TAVIMO_REALTIME=0 turns it off), reporting telegrams sent, received, lost and malformed,
# resident memory at start and end, and CPU per second.
#   scripts/soak.sh [seconds]   (default 600: ten minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
seconds=${1:-600}
dir=${TAVIMO_SOAK_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target tavimo_soak
export QT_QPA_PLATFORM=offscreen
exec "$dir"/bin/tavimo_soak "$seconds"
