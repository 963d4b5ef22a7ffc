#!/usr/bin/env bash
# The program's database work must run as an ordinary user, also after another user (root here)
# started an engine first and so owns the engine's default lock folder, and after another user
# made the folder this user's engine would use: the engine's lock folder is always private.
set -euo pipefail
mkcarddb=$1
cardwriter=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
chmod 0755 "$dir"
mkdir "$dir/cards" "$dir/tmp" "$dir/run"
chmod 1777 "$dir/tmp"
as=(env TMPDIR="$dir/tmp" XDG_RUNTIME_DIR="$dir/run")
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p /tmp/firebird && chmod 0770 /tmp/firebird
    chown nobody "$dir/cards" "$dir/run"
    uid=$(id -u nobody)
    as=(runuser -u nobody -- "${as[@]}")
else
    uid=$(id -u)
fi
chmod 0700 "$dir/run"
usual=$dir/tmp/tavrona-firebird-$uid
if [ "$(id -u)" -eq 0 ]; then
    mkdir -m 0777 "$usual"  # made by root, open to everyone: not private to nobody
else
    mkdir "$dir/elsewhere"
    ln -s "$dir/elsewhere" "$usual"  # a link: whoever controls its target would share the locks
fi
lockdir=$("${as[@]}" "$cardwriter" lockdir)
echo "engine lock folder: $lockdir"
[ "$lockdir" = "$dir/run/tavrona-firebird" ]
[ "$(stat -c '%a %u' "$lockdir")" = "700 $uid" ]

"${as[@]}" "$mkcarddb" "$dir/cards/data/DATA.FDB"
"${as[@]}" "$cardwriter" "$dir/cards" new none
count=$("${as[@]}" "$cardwriter" "$dir/cards" count)
echo "cards written as $("${as[@]}" id -un): $count"
[ "$count" = 1 ]
[ -z "$(ls -A "$usual")" ]  # nothing was put into the folder another user made
