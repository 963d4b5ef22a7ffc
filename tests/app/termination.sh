#!/usr/bin/env bash
# A termination signal ends the program at once, with exit code 0, leaving a database the next
# start opens as usual (and the card folder free for it).
set -euo pipefail
tavrona=$1
mkcarddb=$2
cardwriter=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$mkcarddb" "$dir/data/DATA.FDB" >/dev/null
"$cardwriter" "$dir" new none

for sig in TERM INT; do
    log=$dir/stderr-$sig
    (cd "$dir" && QT_QPA_PLATFORM=offscreen TAVRONA_READY_LINE=1 exec "$tavrona" 2>"$log") &
    pid=$!
    # The program says when its windows are up and the signal handlers are in place.
    for _ in $(seq 1200); do
        grep -qx 'tavrona: ready' "$log" 2>/dev/null && break
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the program ended before it was ready"
            cat "$log"
            exit 1
        fi
        sleep 0.1
    done
    if ! grep -qx 'tavrona: ready' "$log"; then
        kill -9 "$pid"
        echo "the program was not ready within 120 s"
        exit 1
    fi
    kill -s "$sig" "$pid"
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid"
        echo "SIG$sig did not end the program"
        exit 1
    fi
    rc=0
    wait "$pid" || rc=$?
    echo "SIG$sig: exit code $rc"
    [ "$rc" -eq 0 ]
done
[ "$("$cardwriter" "$dir" count)" = 1 ]
echo "database intact"
