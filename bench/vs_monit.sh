#!/usr/bin/env bash
# Sentrel's headless service beside Monit on the same files, in one run:
# resident memory with 10, 1,000 and 10,000 files, CPU per 1 s cycle with
# 1,000 and 10,000 files (beside a bare stat() loop too), and the time from a
# file's change to the mail on a loopback server. Prints a Markdown table.
#   bench/vs_monit.sh [build folder]     (default build-monit; a Release build)
# Builds sentrel-headless there (-j1) and installs monit and python3-aiosmtpd
# when missing. Takes about 3 minutes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-monit}
shift || true

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
install_packages() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"
}

if ! command -v monit >/dev/null; then
    install_packages monit
    # The package may start its system daemon; it would share the processors
    # with what is measured, and this run starts its own Monit anyway.
    if pgrep -x monit >/dev/null; then
        as_root service monit stop || true
    fi
fi
if pgrep -x monit >/dev/null; then
    echo "note: a monit daemon is already running (pid $(pgrep -x monit | tr '\n' ' ')); it shares the processors" >&2
fi
if ! /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null; then
    install_packages python3-aiosmtpd
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ "$type" != Release ]; then
    echo "note: $build is a '$type' build, not Release" >&2
fi
cmake --build "$build" --target sentrel-headless -j1 >/dev/null
if [ ! -d "$build/Templates" ]; then
    echo "no $build/Templates beside sentrel-headless" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/stat_loop" "$here/stat_loop.c"

/usr/bin/python3 "$here/vs_monit.py" --program "$build/sentrel-headless" --stat-loop "$work/stat_loop" \
    --monit "$(command -v monit)" "$@"
