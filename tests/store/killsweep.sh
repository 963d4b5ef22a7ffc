#!/usr/bin/env bash
# Kills a process that rewrites and adds cards at random moments (commits included), sweeps the
# card file as the engine's automatic sweep would, and checks after every kill that each card is
# there exactly once under its own key and the key trigger is on. Runs on a card file of ours and
# on one made elsewhere whose trigger numbers every inserted row.
#   killsweep.sh CARDWRITER [KILLS] [KIND...]     KILLS per kind (default 60), KIND ours|foreign
set -euo pipefail
cardwriter=$1
kills=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
kinds=("${@:-ours}")
[ $# -eq 0 ] && kinds=(ours foreign)
cards=50

export FIREBIRD_LOCK
FIREBIRD_LOCK=$("$cardwriter" lockdir)
work=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

for kind in "${kinds[@]}"; do
    dir=$work/$kind
    "$cardwriter" "$dir" make "$kind"
    "$cardwriter" "$dir" seed $cards
    for ((i = 1; i <= kills; i++)); do
        coproc churn { exec "$cardwriter" "$dir" churn "$RANDOM"; }
        read -r ready <&"${churn[0]}"
        [ "$ready" = ready ]
        # 0 to 400 ms of rewrites: most kills land inside a write or its commit.
        sleep "0.$(printf '%03d' $((RANDOM % 400)))"
        kill -9 "$churn_PID"
        wait "$churn_PID" 2>/dev/null || true
        gfix -sweep -user SYSDBA "$dir/data/DATA.FDB"
        if ! result=$("$cardwriter" "$dir" check $cards); then
            echo "$kind: kill $i: $result"
            exit 1
        fi
    done
    # Warnings about orphan pages are what any crash leaves; errors are damage.
    validation=$(gfix -v -full -user SYSDBA "$dir/data/DATA.FDB" 2>&1 || true)
    if grep -Eq "Number of .*errors|corrupt" <<<"$validation"; then
        echo "$kind: validation after $kills kills: $validation"
        exit 1
    fi
    echo "$kind: $kills kills, each followed by a sweep: every card once under its key ($result)"
    [ -z "$validation" ] || echo "$kind: validation: $(tr '\n\t' '  ' <<<"$validation")"
done
