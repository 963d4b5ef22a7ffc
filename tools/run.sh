#!/usr/bin/env bash
# Sets up, builds, and starts Tavrona in the card folder (default ~/Tavrona), creating an
# empty card database there when none exists. An existing database is never touched.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=${1:-"$HOME/Tavrona"}

"$root/tools/setup.sh"
mkdir -p -m 0700 "$folder"  # a new card folder is its owner's alone
folder=$(cd "$folder" && pwd)
"$root/build/tools/mkcarddb" "$folder/data/DATA.FDB"
cd "$folder"
exec "$root/build/app/tavrona"
