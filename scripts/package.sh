#!/usr/bin/env bash
# Builds the Debian package (Release, no tests or benchmarks) into build-package/.
# Install it with `sudo dpkg -i build-package/tavimo_*.deb` (then `sudo apt-get -f install`
# if dpkg reports missing dependencies).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=${TAVIMO_PACKAGE_DIR:-build-package}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTAVIMO_BUILD_TESTS=OFF \
      -DTAVIMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB)
ls -1 "$dir"/tavimo_*.deb
