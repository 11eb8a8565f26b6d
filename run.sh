#!/usr/bin/env bash
# Builds the program and starts it with the demo catalogue server.
set -euo pipefail
cd "$(dirname "$0")"
. tools/packages.sh
vemlis_install_packages

cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMLIS_BUILD_TESTS=ON >/dev/null
cmake --build build-run -j"$(nproc)"
if [ ! -x build-run/app/vemlis-loader ]; then
  echo "The download engine and its tests are built; the window is not part of this build yet."
  exit 0
fi
