#!/usr/bin/env bash
# Ends that a user, a logout, cron or `timeout` bring about, with real processes and signals:
#  - SIGTERM, SIGINT and SIGHUP end the window program as 終了 does (exit code 0), and end a card
#    command within seconds with 128 + the signal and its Japanese line, at random moments of an
#    import, a backup and a restore: the card file then holds none or all of the import, the old or
#    the new cards, and no half-made backup or restored file is left;
#  - a process that died holding the engine's trace area locked blocks no start on another card
#    file, and the process that uses that area still ends;
#  - a second start on a busy card file says at once which process has it;
#  - a server that accepts the connection and never answers is told as such within seconds, and
#    the window program shows that it is waiting.
#   termination.sh TAVRONA MKCARDDB CARDWRITER TAVRONA_CARDS TRACELOCK [ROUNDS]
set -euo pipefail
tavrona=$1
mkcarddb=$2
cardwriter=$3
cards=$4
tracelock=$5
rounds=${6:-6}
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=disabled:
dir=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null || true; rm -rf "$dir"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# ends_within PID TENTHS: waits for the process to end; its exit code in $rc. Kills it and fails
# the caller when it is still running.
ends_within() {
    local pid=$1 tenths=$2
    for ((t = 0; t < tenths; t++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return 1
    fi
    rc=0
    wait "$pid" || rc=$?
}

# await_line FILE LINE PID TENTHS: the process wrote the line to FILE while still running.
await_line() {
    for ((t = 0; t < $4; t++)); do
        grep -qx "$2" "$1" 2>/dev/null && return 0
        kill -0 "$3" 2>/dev/null || { cat "$1"; return 1; }
        sleep 0.1
    done
    return 1
}

count() { "$cardwriter" "$1" count; }
# started PID: waits until the process has taken the signals (its engine lock folder exists); a
# signal before that (while the system still loads the program's libraries) ends it as it ends
# any program, before it has done anything.
locks=$("$cardwriter" lockdir)
started() {
    for ((t = 0; t < 200; t++)); do
        compgen -G "$locks/proc-$1-*" >/dev/null && return 0
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.05
    done
}
code_of() { case $1 in TERM) echo 143 ;; INT) echo 130 ;; HUP) echo 129 ;; esac; }
random_pause() { sleep "$(($1 + RANDOM % $2)).$(printf '%03d' $((RANDOM % 1000)))"; }
signals=(TERM INT HUP)

# A card file of 20,000 cards to import, each name its own.
csv=$dir/cards.csv
awk 'BEGIN { print "名前,組織名"; for (i = 1; i <= 20000; i++) printf "試験 %d,株式会社%d\n", i, i % 97 }' >"$csv"

# ---- the window program: each signal ends it as 終了 does --------------------------------------
w=$dir/window
"$mkcarddb" "$w/data/DATA.FDB" >/dev/null
"$cardwriter" "$w" new none
for sig in "${signals[@]}"; do
    log=$dir/window-$sig.log
    (cd "$w" && TAVRONA_READY_LINE=1 exec "$tavrona" 2>"$log") &
    pid=$!
    await_line "$log" 'tavrona: ready' "$pid" 1200 || fail "the window program was not ready (SIG$sig)"
    kill -s "$sig" "$pid"
    ends_within "$pid" 50 || fail "SIG$sig did not end the window program within 5 s"
    [ "$rc" -eq 0 ] || { cat "$log"; fail "the window program ended with $rc after SIG$sig"; }
    echo "window program, SIG$sig: exit code 0"
done
[ "$(count "$w")" = 1 ] || fail "the window program's card file changed"

# ---- a dead process holding the trace area, and a busy card file -------------------------------
a=$dir/a
b=$dir/b
"$mkcarddb" "$a/data/DATA.FDB" >/dev/null
"$mkcarddb" "$b/data/DATA.FDB" >/dev/null
"$cards" import "$csv" --card-folder "$a" >"$dir/import.out" 2>"$dir/import.err" &
pid=$!
trace=
for ((t = 0; t < 600; t++)); do
    trace=$(grep -o '/[^ ]*/fb12_trace$' "/proc/$pid/maps" 2>/dev/null | head -n 1 || true)
    [ -z "$trace" ] || break
    sleep 0.05
done
[ -n "$trace" ] || fail "the import never mapped its engine's trace area"
# The same card file while the import has it: refused at once, naming the process.
start=$SECONDS
busy=0
"$cards" find 試験 --card-folder "$a" >/dev/null 2>"$dir/busy.err" || busy=$?
[ "$busy" -eq 1 ] && [ $((SECONDS - start)) -le 5 ] || fail "a second command on the busy card file: $busy"
grep -q "プロセス $pid" "$dir/busy.err" || { cat "$dir/busy.err"; fail "the refusal does not name the process"; }
"$tracelock" "$trace" >/dev/null || fail "could not lock the trace area of $trace"
echo "trace area of the running import left locked: $trace"
timeout 20 "$mkcarddb" "$dir/c/data/DATA.FDB" >/dev/null || fail "mkcarddb on another card file did not finish"
timeout 20 "$cards" find 試験 --card-folder "$b" >/dev/null || fail "tavrona-cards on another card file did not finish"
log=$dir/window-b.log
(cd "$b" && TAVRONA_READY_LINE=1 exec "$tavrona" 2>"$log") &
wpid=$!
await_line "$log" 'tavrona: ready' "$wpid" 300 || fail "the window program on another card file did not start"
kill -TERM "$wpid"
ends_within "$wpid" 50 || fail "the window program on another card file did not end"
ends_within "$pid" 1200 || fail "the import with its trace area locked did not end"
[ "$rc" -eq 0 ] || { cat "$dir/import.err"; fail "the import ended with $rc"; }
grep -q '20000 件の名刺を登録しました。' "$dir/import.out" || fail "the import did not report its cards"
[ "$(count "$a")" = 20000 ] || fail "the card file holds $(count "$a") cards after the import"
echo "another card file started and ended; the import ended with 0"

# A card file held by a program of the engine's own tools: the refusal names it.
if command -v isql-fb >/dev/null; then
    (sleep 30 | exec isql-fb -user SYSDBA "$b/data/DATA.FDB" >/dev/null 2>&1) &
    holder=$!
    isql=
    for ((t = 0; t < 100; t++)); do
        isql=$(pgrep -P "$holder" -x isql-fb || true)
        [ -n "$isql" ] && ls -l /proc/"$isql"/fd 2>/dev/null | grep -q DATA.FDB && break
        isql=
        sleep 0.1
    done
    if [ -n "$isql" ]; then
        held=0
        "$cards" find 試験 --card-folder "$b" >/dev/null 2>"$dir/held.err" || held=$?
        [ "$held" -eq 1 ] && grep -q "使っているプログラム: isql-fb（プロセス $isql）" "$dir/held.err" ||
            { cat "$dir/held.err"; fail "the refusal does not name isql-fb"; }
        echo "a card file held by isql-fb: refused, naming it"
    fi
    [ -z "$isql" ] || kill "$isql" 2>/dev/null || true
    kill "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
fi

# ---- signals at random moments -----------------------------------------------------------------
declare -A outcomes=()
tally() { outcomes[$1]=$((${outcomes[$1]:-0} + 1)); }

# Import: none or all of the 20,000 cards.
before=$(count "$a")
for ((i = 1; i <= rounds; i++)); do
    sig=${signals[RANDOM % 3]}
    "$cards" import "$csv" --allow-duplicates --card-folder "$a" >"$dir/r.out" 2>"$dir/r.err" &
    pid=$!
    started "$pid"
    random_pause 0 3
    kill -s "$sig" "$pid" 2>/dev/null || true
    ends_within "$pid" 50 || fail "import: SIG$sig did not end it within 5 s"
    after=$(count "$a")
    if [ "$rc" -eq "$(code_of "$sig")" ]; then
        grep -q '中断しました。何も書き込んでいません。' "$dir/r.err" || { cat "$dir/r.err"; fail "import: no word"; }
        [ "$after" = "$before" ] || fail "import interrupted by SIG$sig left $((after - before)) cards"
        tally "import interrupted"
    elif [ "$rc" -eq 0 ]; then
        [ "$after" = $((before + 20000)) ] || fail "import ended with 0 and $((after - before)) cards"
        tally "import finished first"
    else
        cat "$dir/r.err"
        fail "import: exit code $rc after SIG$sig"
    fi
    before=$after
done

# Backup: the earlier backup stays as it was unless a whole new one took its place.
"$cards" backup "$dir/cards.fbk" --card-folder "$a" >/dev/null
cp "$dir/cards.fbk" "$dir/earlier.fbk"
for ((i = 1; i <= rounds; i++)); do
    sig=${signals[RANDOM % 3]}
    "$cards" backup "$dir/cards.fbk" --card-folder "$a" >"$dir/r.out" 2>"$dir/r.err" &
    pid=$!
    started "$pid"
    random_pause 0 2
    kill -s "$sig" "$pid" 2>/dev/null || true
    ends_within "$pid" 50 || fail "backup: SIG$sig did not end it within 5 s"
    [ ! -e "$dir/cards.fbk.part" ] || fail "backup: a half-made backup was left"
    if [ "$rc" -eq "$(code_of "$sig")" ]; then
        grep -q '中断しました。' "$dir/r.err" || { cat "$dir/r.err"; fail "backup: no word"; }
        cmp -s "$dir/cards.fbk" "$dir/earlier.fbk" || fail "backup interrupted by SIG$sig changed the earlier backup"
        tally "backup interrupted"
    elif [ "$rc" -eq 0 ]; then
        grep -q 'バックアップしました' "$dir/r.out" || fail "backup: ended with 0 without its line"
        cp "$dir/cards.fbk" "$dir/earlier.fbk"
        tally "backup finished first"
    else
        cat "$dir/r.err"
        fail "backup: exit code $rc after SIG$sig"
    fi
done

# Restore over a card file of one card: the old or the restored cards, nothing left beside them.
r=$dir/restore
"$mkcarddb" "$r/data/DATA.FDB" >/dev/null
"$cardwriter" "$r" new none
backed=$(count "$a")
for ((i = 1; i <= rounds; i++)); do
    sig=${signals[RANDOM % 3]}
    before=$(count "$r")
    "$cards" restore "$dir/cards.fbk" --card-folder "$r" >"$dir/r.out" 2>"$dir/r.err" &
    pid=$!
    started "$pid"
    random_pause 0 2
    kill -s "$sig" "$pid" 2>/dev/null || true
    ends_within "$pid" 50 || fail "restore: SIG$sig did not end it within 5 s"
    after=$(count "$r")
    ls "$r/data" | grep -q 'restoring' && fail "restore: a half-restored file was left"
    if [ "$rc" -eq "$(code_of "$sig")" ]; then
        grep -q '中断しました。' "$dir/r.err" || { cat "$dir/r.err"; fail "restore: no word"; }
        [ "$after" = "$before" ] || fail "restore interrupted by SIG$sig: $after cards, $before before"
        tally "restore interrupted"
    elif [ "$rc" -eq 0 ]; then
        [ "$after" = "$backed" ] || fail "restore ended with 0 and $after cards"
        tally "restore finished first"
    else
        cat "$dir/r.err"
        fail "restore: exit code $rc after SIG$sig"
    fi
    rm -f "$r"/data/DATA.FDB.before-restore-*
done

# The window program while it starts, opens its card file and shows its windows.
for ((i = 1; i <= rounds; i++)); do
    sig=${signals[RANDOM % 3]}
    (cd "$w" && exec "$tavrona" 2>"$dir/r.err") &
    pid=$!
    started "$pid"
    random_pause 0 2
    kill -s "$sig" "$pid" 2>/dev/null || true
    ends_within "$pid" 50 || fail "window program: SIG$sig did not end it within 5 s"
    [ "$rc" -eq 0 ] || { cat "$dir/r.err"; fail "window program: exit code $rc after SIG$sig"; }
    [ "$(count "$w")" = 1 ] || fail "window program: the card file changed"
    tally "window program ended"
done

for outcome in "${!outcomes[@]}"; do
    echo "signal loop: $outcome: ${outcomes[$outcome]}"
done

# ---- a server that accepts and never answers ---------------------------------------------------
python3 -c '
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
' >"$dir/port" &
listener=$!
for ((t = 0; t < 50; t++)); do [ -s "$dir/port" ] && break; sleep 0.1; done
port=$(cat "$dir/port")
database="127.0.0.1/$port:/srv/cards.fdb"
start=$SECONDS
silent=0
ISC_USER=TANAKA ISC_PASSWORD=secret timeout 120 "$cards" find 試験 --database "$database" --card-folder "$dir" \
    >/dev/null 2>"$dir/silent.err" || silent=$?
waited=$((SECONDS - start))
[ "$silent" -eq 1 ] || { cat "$dir/silent.err"; fail "a silent server: exit code $silent"; }
[ "$waited" -le 20 ] || fail "a silent server held the command for $waited s"
grep -q '応答しません' "$dir/silent.err" || { cat "$dir/silent.err"; fail "a silent server is not told as such"; }
grep -q '接続が切れました' "$dir/silent.err" && fail "a silent server told as a lost connection"
echo "a silent server: told after $waited s"

# The window program shows that it waits, and a signal ends it meanwhile.
s=$dir/silent
mkdir -p "$s"
log=$dir/silent-window.log
(cd "$s" && ISC_USER=TANAKA ISC_PASSWORD=secret TAVRONA_OPEN_WAIT_MS=300 TAVRONA_READY_LINE=1 \
    exec "$tavrona" --database "$database" 2>"$log") &
pid=$!
await_line "$log" 'tavrona: waiting' "$pid" 50 || fail "the window program did not show that it waits"
kill -TERM "$pid"
ends_within "$pid" 50 || fail "SIGTERM did not end the waiting window program"
[ "$rc" -eq 0 ] || fail "the waiting window program ended with $rc"
echo "the window program showed its wait and ended on SIGTERM"
kill "$listener" 2>/dev/null || true
