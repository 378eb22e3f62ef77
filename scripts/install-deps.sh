#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Tavimo.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev libxml2-dev libxslt1-dev libsqlite3-dev
          libspdlog-dev libgtest-dev libgmock-dev libbenchmark-dev clang-format xvfb
          clang libclang-rt-14-dev  # clang and its libFuzzer runtime: the fuzz targets
          dpkg-dev file             # the Debian package (dpkg-shlibdeps)
          gpsd)                     # the peer relay beside Tavimo's in bench/TelegramRelayBench.cpp
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
