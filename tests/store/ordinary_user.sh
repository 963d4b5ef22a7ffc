#!/usr/bin/env bash
# The program's database work must run as an ordinary user, also after another user (root here)
# started an engine first and so owns the engine's default lock folder.
set -euo pipefail
mkcarddb=$1
cardwriter=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
as=()
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p /tmp/firebird && chmod 0770 /tmp/firebird
    chown nobody "$dir"
    as=(runuser -u nobody --)
fi
"${as[@]}" "$mkcarddb" "$dir/data/DATA.FDB"
"${as[@]}" "$cardwriter" "$dir" new none
count=$("${as[@]}" "$cardwriter" "$dir" count)
echo "cards written as $("${as[@]}" id -un): $count"
[ "$count" = 1 ]
