#!/bin/sh
# Runs a test in a D-Bus session of its own with an unlocked keyring of its own, in a home folder
# of its own, so that the user's keyring is never touched. Without a keyring daemon on this desk
# the test is skipped (exit 77).
set -eu
if ! command -v dbus-run-session >/dev/null || ! command -v gnome-keyring-daemon >/dev/null; then
    echo "no keyring daemon (gnome-keyring, dbus): skipped"
    exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
unset DBUS_SESSION_BUS_ADDRESS
status=0
dbus-run-session -- sh -c 'printf keyring | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' \
    sh "$@" || status=$?
exit "$status"
