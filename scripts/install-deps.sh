#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Tavimo.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev libxml2-dev libxslt1-dev libsqlite3-dev
          libspdlog-dev libgtest-dev libgmock-dev libbenchmark-dev clang-format xvfb
          clang libclang-rt-14-dev  # clang and its libFuzzer runtime: the fuzz targets
          dpkg-dev file             # the Debian package (dpkg-shlibdeps)
          libsystemd-dev            # readiness and watchdog notifications (sd_notify)
          gpsd gpsd-clients         # the peer relay beside Tavimo's (bench/TelegramRelayBench.cpp,
                                    # the age at the wire in bench/SensorBench.cpp), and a real
                                    # reader of the network ports in the tests
          python3-nmea2             # pynmea2, the strict judge of the NMEA sentences written
          iproute2 util-linux)      # ip and unshare: network tests in a namespace of their own
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
