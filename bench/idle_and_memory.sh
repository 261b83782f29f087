#!/usr/bin/env bash
# The idle program: CPU over 60 s with 1,000 files and a 30 s interval, and
# resident memory with 10 and with 10,000 files, each after its first check.
#   bench/idle_and_memory.sh [build folder]     (a Release build with build/sentrel)
set -euo pipefail

build=${1:-build-release}
program=$(cd "$build" && pwd)/sentrel
hz=$(getconf CLK_TCK)

# Starts the program on a scratch profile of N unchanged files; prints its pid.
start() {
    local count=$1 scratch=$2
    export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
    export XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_DIRS=$scratch/etc-xdg
    mkdir -p "$XDG_RUNTIME_DIR" "$scratch/files" && chmod 700 "$XDG_RUNTIME_DIR"
    local profile="$XDG_DATA_HOME/Brackwell/Utilities/Sentrel v1/Profiles/Profile1"
    mkdir -p "$profile"
    local stamp
    stamp=$(date -d '-1 hour' +%Y-%m-%dT%H:%M:%S)
    {
        printf '[General]\nNumberFiles=%d\nPollInterval=30\n[SMTPServer]\nEnabled=0\n' "$count"
        for ((i = 1; i <= count; i++)); do
            printf '[File%d]\nFileName=%s/files/export-%d.csv\nLastModified=%s\n' "$i" "$scratch" "$i" "$stamp"
        done
    } >"$profile/Sentrel.ini"
    (cd "$scratch/files" && for ((i = 1; i <= count; i++)); do : >"export-$i.csv"; done && touch -d "$stamp" ./*.csv)
    QT_QPA_PLATFORM=offscreen "$program" /NOPREVCHECK >/dev/null 2>&1 &
    echo $!
}
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

scratch=$(mktemp -d)
pid=$(start 1000 "$scratch/cpu")
sleep 5
before=$(ticks "$pid")
sleep 60
after=$(ticks "$pid")
kill "$pid"
echo "idle CPU, 1,000 files, 30 s interval, 60 s: $((after - before)) ticks of 1/$hz s =" \
    "$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.3f%%", 100 * t / (60 * hz)}') of one core"

for count in 10 10000; do
    pid=$(start "$count" "$scratch/mem-$count")
    sleep 35 # past the first automatic check
    echo "resident memory, $count files: $(rss_kib "$pid") KiB"
    kill "$pid"
done
rm -rf "$scratch"
