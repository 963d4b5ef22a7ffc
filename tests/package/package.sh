#!/usr/bin/env bash
# Makes the Debian package from the built tree, checks its contents, control fields, desktop
# entry and metadata, then unpacks it into a temporary root and starts the installed launcher
# from a fresh home folder, as a user would the first time and the times after.
set -euo pipefail
build=$1
version=$2
cardwriter=$3
tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# ---- the package builds (into a folder of its own, whatever an earlier run left in the tree)
(cd "$build" && cpack --config CPackConfig.cmake -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
    { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$tmp/out/tavrona_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$tmp/out"; fail "no package named $(basename "$deb")"; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# ---- control fields
[ "$(dpkg-deb -f "$deb" Package)" = tavrona ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "Olvemark <tavrona@olvemark.example>" ] || fail "maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libfbclient2 libqt6widgets6 libxlsxwriter firebird3.0-server-core fonts-noto-cjk \
    qt6-translations-l10n xdg-utils libsane1; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed"
done
# Nothing that is only needed to build.
[[ "$depends" != *-dev* ]] || fail "Depends names a development package"

# ---- contents: exactly the program, its tools and the desktop files, nothing from tests or benchmarks
dpkg-deb -c "$deb" >"$tmp/listing"
awk '$1 !~ /^d/ {print $6}' "$tmp/listing" | sort >"$tmp/files"
app=example.olvemark.Tavrona
expected=(
    ./usr/bin/tavrona
    ./usr/bin/tavrona-cards
    ./usr/libexec/tavrona/mkcarddb
    ./usr/libexec/tavrona/tavrona
    "./usr/share/applications/$app.desktop"
    "./usr/share/metainfo/$app.metainfo.xml"
    "./usr/share/icons/hicolor/scalable/apps/$app.svg"
    ./usr/share/doc/tavrona/copyright
    ./usr/share/doc/tavrona/changelog.gz
    ./usr/share/man/man1/tavrona.1.gz
    ./usr/share/man/man1/tavrona-cards.1.gz
)
for size in 16 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x$size/apps/$app.png")
done
printf '%s\n' "${expected[@]}" | sort >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/files" || fail "package contents"
grep -q '^-rwxr-xr-x .* ./usr/bin/tavrona$' "$tmp/listing" || fail "launcher not executable"

# ---- desktop entry and metadata as desktop tools read them
root=$tmp/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" || fail "metainfo"
grep -q '^Name\[ja\]=名刺管理$' "$root/usr/share/applications/$app.desktop" || fail "Japanese name"
newest=$(grep -o '<release version="[^"]*"' "$root/usr/share/metainfo/$app.metainfo.xml" | head -1)
[ "$newest" = "<release version=\"$version\"" ] || fail "newest release in the metainfo is $newest, not $version"
# The metadata's addresses are the program's own links; its screenshots are the README's pictures.
source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
for url in $(grep -o '<url type="[a-z]*">[^<]*' "$root/usr/share/metainfo/$app.metainfo.xml" | sed 's/.*>//'); do
    grep -qF "\"$url\"" "$source/app/mainmenuwindow.cpp" || fail "the metainfo's address $url is none of the program's links"
done
for picture in $(grep -o '<image>[^<]*' "$root/usr/share/metainfo/$app.metainfo.xml" | sed 's/.*\///'); do
    grep -qF "(docs/$picture)" "$source/README.md" || fail "the screenshot $picture is not a picture of the README"
done
[ "$(zcat "$root/usr/share/doc/tavrona/changelog.gz" | head -1 | grep -o '([^)]*)')" = "($version)" ] ||
    fail "the changelog's newest entry is not $version"

# ---- the licence, and what Debian's own checker says: no errors; warnings are listed
grep -q '^License: Expat$' "$root/usr/share/doc/tavrona/copyright" || fail "copyright names no Expat licence"
command -v lintian >/dev/null || fail "lintian is not installed (tools/setup.sh installs it)"
lintian --no-tag-display-limit "$deb" >"$tmp/lintian.log" 2>&1 || true
cat "$tmp/lintian.log"
! grep -q '^E: ' "$tmp/lintian.log" || fail "lintian reports errors"

# ---- the installed launcher, run from the unpacked tree
launcher=$root/usr/bin/tavrona

# Starts the launcher with the given arguments and waits until the program holds the card
# database FOLDER/data/DATA.FDB open, then ends it as a logout does.
run_on() {
    local folder=$1
    shift
    "$launcher" "$@" >"$tmp/out.log" 2>&1 &
    local pid=$!
    pids+=("$pid")
    local open=0
    for _ in $(seq 300); do
        kill -0 "$pid" 2>/dev/null || break
        if find "/proc/$pid/fd" -lname "$folder/data/DATA.FDB" 2>/dev/null | grep -q .; then
            open=1
            break
        fi
        sleep 0.1
    done
    [ "$open" = 1 ] || { cat "$tmp/out.log"; fail "the program did not open $folder/data/DATA.FDB"; }
    sleep 1  # the program takes termination requests once its windows are made, just after the database
    kill -TERM "$pid"
    local rc=0
    wait "$pid" || rc=$?
    [ "$rc" = 0 ] || { cat "$tmp/out.log"; fail "exit code $rc after SIGTERM"; }
}

export HOME=$tmp/home
mkdir "$HOME"
unset TAVRONA_CARD_FOLDER

# First start: the card folder and an empty database are made in the home folder.
run_on "$HOME/Tavrona"
[ -f "$HOME/Tavrona/data/DATA.FDB" ] || fail "no card database in ~/Tavrona"
[ "$("$cardwriter" "$HOME/Tavrona" count)" = 0 ] || fail "the new card database is not empty"
echo "first start made ~/Tavrona/data/DATA.FDB"

# Later starts open the same card file and leave its cards alone.
"$cardwriter" "$HOME/Tavrona" new none
run_on "$HOME/Tavrona"
[ "$("$cardwriter" "$HOME/Tavrona" count)" = 1 ] || fail "the existing card database was replaced"
echo "second start kept the card"

# Another card folder, by environment and by option (the option wins); names with spaces.
export TAVRONA_CARD_FOLDER="$tmp/env folder"
run_on "$TAVRONA_CARD_FOLDER"
run_on "$tmp/option folder" --card-folder "$tmp/option folder"
run_on "$tmp/option=folder" "--card-folder=$tmp/option=folder"
unset TAVRONA_CARD_FOLDER
for folder in "env folder" "option folder" "option=folder"; do
    [ -f "$tmp/$folder/data/DATA.FDB" ] || fail "no card database in $folder"
done
echo "other card folders by environment and option"

# Bad starts say why in Japanese and create nothing.
export HOME=$tmp/home2
mkdir "$HOME"
bad_start() {
    local rc=0
    "$launcher" "$@" >"$tmp/bad.log" 2>&1 || rc=$?
    [ "$rc" = 1 ] || fail "exit code $rc for: $*"
    LC_ALL=C.UTF-8 grep -qP 'tavrona: .*[\x{3040}-\x{30ff}]' "$tmp/bad.log" || { cat "$tmp/bad.log"; fail "no Japanese message for: $*"; }
}
bad_start --bogus
bad_start --card-folder
touch "$tmp/plain file"
bad_start --card-folder "$tmp/plain file/cards"
[ -z "$(ls -A "$HOME")" ] || fail "a refused start left files in the home folder"
echo "refused starts explained"
