#!/usr/bin/env bash
# keyring.sh TEST FUNCTION...
# Runs the test's functions against a real Secret Service: a GNOME keyring
# of a throw-away home, unlocked, on the session bus of dbus-run-session
# (which ends the bus and the keyring with it).
set -u
command -v gnome-keyring-daemon >/dev/null || { echo "keyring.sh: gnome-keyring is not installed" >&2; exit 1; }
command -v dbus-run-session >/dev/null || { echo "keyring.sh: dbus-run-session is not installed" >&2; exit 1; }
home=$(mktemp -d /tmp/orvenna-keyring-XXXXXX) || exit 1
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export ORVENNA_TEST_KEYRING=1
dbus-run-session -- bash -c 'printf test | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null \
    || { echo "keyring.sh: gnome-keyring-daemon failed" >&2; exit 1; }
exec "$@"' keyring "$@"
