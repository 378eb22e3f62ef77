#!/usr/bin/env bash
# Installs the open readers the tests run beside Tavimo that Debian does not package:
# signalk-server 2.x from npm, into the peers folder ($TAVIMO_PEERS_DIR, by default
# ~/.cache/tavimo-peers). gpsd and python3-nmea2 come from Debian (scripts/install-deps.sh).
# Where npm or its registry cannot be reached this says so and ends well: the Signal K tests
# then skip, naming the reason.
set -uo pipefail
dir=${TAVIMO_PEERS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tavimo-peers}
version=2.23.0
server=$dir/signalk/node_modules/signalk-server/bin/signalk-server
installed=$dir/signalk/node_modules/signalk-server/package.json
if [ -f "$server" ] && grep -q "\"version\": \"$version\"" "$installed" 2>/dev/null; then
  exit 0
fi
if ! command -v npm >/dev/null || ! command -v node >/dev/null; then
  echo "install-peers: node and npm are missing; the Signal K tests will be skipped"
  exit 0
fi
mkdir -p "$dir/signalk"
echo "Installing signalk-server $version from npm into $dir/signalk"
if ! timeout 600 npm install --prefix "$dir/signalk" --no-audit --no-fund --omit=dev \
     --loglevel=error "signalk-server@$version" >"$dir/signalk/npm.log" 2>&1; then
  echo "install-peers: npm could not install signalk-server (the registry may be out of" \
       "reach; $dir/signalk/npm.log says why); the Signal K tests will be skipped"
  tail -5 "$dir/signalk/npm.log"
fi
exit 0
