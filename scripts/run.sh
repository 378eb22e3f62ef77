#!/usr/bin/env bash
# Builds Tavimo and runs it with the simulated sensor and virtual output ports.
# Arguments go to tavimo; without a configuration file it uses
# ${XDG_CONFIG_HOME:-~/.config}/tavimo/Tavimo.xml (written with the defaults when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tavimo tavimo-ports
config_dir="${XDG_CONFIG_HOME:-$HOME/.config}/tavimo"
args=("$@")
if [ ${#args[@]} -eq 0 ] || [ "${args[0]#-}" != "${args[0]}" ]; then
  mkdir -p "$config_dir"
  args=("$config_dir/Tavimo.xml" "${args[@]}")
fi
echo "Tavimo: configuration ${args[0]}"
echo "Tavimo: virtual ports (HDT on COM2, TSS1 on COM3 by default):"
build/bin/tavimo-ports | sed 's/^/  /'
exec build/bin/tavimo "${args[@]}"
