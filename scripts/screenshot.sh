#!/usr/bin/env bash
# Makes the pictures in docs/: a scratch profile with a few watched files (one
# changed, one stale, one missing), the test mail server on loopback, the
# window started on it under Xvfb, one check run, and the window and each
# dialog saved. A scale factor (2 for a high-density screen) and a folder of
# its own show how the same windows look scaled.
#   scripts/screenshot.sh [build folder] [scale factor] [output folder]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
scale=${2:-1}
out=${3:-$here/docs}
cmake --build "$build" --target sentrel_screenshot

scratch=$(mktemp -d /tmp/demo.XXXX)
sink_pid=
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/mail"
coproc SINK { exec /usr/bin/python3 "$here/tests/common/smtp_sink.py" --port 0 --out "$scratch/mail"; }
sink_pid=$SINK_PID
read -r port <&"${SINK[0]}"
export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
export XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_DIRS=$scratch/etc-xdg
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

files=$scratch/srv
mkdir -p "$files/export" "$files/log"
today=$(date +%Y-%m-%d)
echo "id;amount" >"$files/export/nightly.csv"
echo "started" >"$files/log/app.$today.log"
echo "ok" >"$files/export/heartbeat.txt"
echo "v1" >"$files/export/prices.xml"
touch -d '-2 hours' "$files/export/nightly.csv"
touch -d '-3 minutes' "$files/log/app.$today.log"
touch -d '-50 minutes' "$files/export/heartbeat.txt"
touch -d '-1 day' "$files/export/prices.xml"
stamp() { date -d "$1" +%Y-%m-%dT%H:%M:%S; }

profile="$XDG_DATA_HOME/Brackwell/Utilities/Sentrel v1/Profiles/Profile1"
mkdir -p "$profile"
cat >"$profile/Sentrel.ini" <<INI
[General]
NumberFiles=5
PollInterval=30
DesktopNotify=1

[SMTPServer]
Address=127.0.0.1
Port=$port

[Email]
From="Sentrel Monitor" <sentrel@example.org>
To=ops@example.org; jane.doe@example.org

[File1]
FileName=$files/export/nightly.csv
FriendlyName=Nightly export
LastModified=$(stamp '-2 hours')

[File2]
FileName=$files/log/app.#YYYY-MM-DD#.log
StaleMins=30
NotifyMissing=1
NotifyRecovered=1
RemindMins=60
LastModified=$(stamp '-3 minutes')

[File3]
FileName=$files/export/heartbeat.txt
FriendlyName=Heartbeat
StaleMins=20
LastModified=$(stamp '-50 minutes')

[File4]
FileName=$files/export/prices.xml
FriendlyName=Price list
LastModified=$(stamp '-2 days')

[File5]
FileName=$files/export/missing.csv
FriendlyName=Weekly report
INI

mkdir -p "$out"

# Each picture twice: in the default light theme, then in a dark one ("*-dark.png"),
# each run from the profile as written here.
cp "$profile/Sentrel.ini" "$scratch/Sentrel.ini"
for theme in light dark; do
    cp "$scratch/Sentrel.ini" "$profile/Sentrel.ini"
    SENTREL_SCREENSHOT_THEME=$theme LC_ALL=en_US.UTF-8 LANG=en_US.UTF-8 QT_SCALE_FACTOR=$scale \
        xvfb-run -a -s "-screen 0 $((1280 * scale))x$((900 * scale))x24" \
        "$build/sentrel_screenshot" "$out" 760 520
done
echo "Wrote main-window, about, monitor-file, settings-files and settings-notification, each .png and -dark.png, to $out"
