#!/usr/bin/env bash
# Sets up and builds as tools/run.sh does, then runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup.sh"
cd "$root/build"
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
ctest --output-on-failure -j2 --timeout 900
