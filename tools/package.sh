#!/usr/bin/env bash
# Sets up and builds as tools/run.sh does, then makes the Debian package
# build/package/tavrona_<version>_<arch>.deb and prints its path.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/build/package

"$root/tools/setup.sh"
rm -rf "$out"
mkdir -p "$out"
(cd "$root/build" && cpack --config CPackConfig.cmake -B "$out" >"$out/cpack.log") ||
    { cat "$out/cpack.log" >&2; exit 1; }
debs=("$out"/tavrona_*.deb)
[ -f "${debs[0]}" ] || { cat "$out/cpack.log" >&2; echo "no package was made" >&2; exit 1; }
echo "${debs[0]}"
