#!/bin/sh
# Runs a test on a session bus of its own with an unlocked GNOME Keyring whose files live in a
# temporary folder; exits 77 (skipped) with the reason where that cannot be set up.
set -u
for tool in dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
home=$(mktemp -d) || exit 1
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run" || exit 1
XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run HOME=$home \
    dbus-run-session -- sh -c '
        printf pass | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 ||
            { echo "skipped: gnome-keyring-daemon did not start"; exit 77; }
        "$@"' sh "$@"
