#!/usr/bin/env bash
# Sets a Debian machine up for Sentrel and then builds and starts it, or builds
# it from scratch and runs every test.
#   scripts/dev.sh run [program arguments...]
#   scripts/dev.sh test
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools libqt6svg6 qtkeychain-qt6-dev
    libgmime-3.0-dev libcurl4-openssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    python3-aiosmtpd openssl curl gnome-keyring libsecret-1-0 dbus-daemon
    xvfb xauth tzdata
    desktop-file-utils appstream dpkg-dev groff-base file
)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

mode=${1:-}
shift || true
case "$mode" in
run)
    install_missing
    cmake --preset default
    cmake --build --preset default
    exec ./build/sentrel "$@"
    ;;
test)
    install_missing
    rm -rf build-test
    cmake --preset test
    cmake --build --preset test
    ctest --preset test -j"$(nproc)"
    ;;
*)
    echo "usage: $0 run [arguments...] | test" >&2
    exit 2
    ;;
esac
