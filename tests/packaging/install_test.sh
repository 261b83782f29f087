#!/usr/bin/env bash
# The program as a user gets it: installed into a scratch prefix with
# cmake --install, and packed as a .deb with cpack. Checks what the desktop,
# systemd and man expect of the installed files, runs the installed program,
# and lets the installed service mail a change with the installed templates.
#   install_test.sh BUILD-FOLDER SOURCE-FOLDER
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
scratch=$(mktemp -d /tmp/sentrel-install.XXXX)
service_pid= sink_pid=
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
export XDG_DATA_HOME=$scratch/data XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
export XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_DIRS=$scratch/etc-xdg QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

echo "== cmake --install"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
id=com.brackwell.Sentrel
for f in bin/sentrel bin/sentrel-headless \
    share/sentrel/Templates/NotifyOnChange.eml share/sentrel/Templates/NotifyOnStale.eml \
    share/sentrel/Templates/NotifyOnMissing.eml share/sentrel/Templates/NotifyOnRecovered.eml \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
    share/icons/hicolor/256x256/apps/$id.png lib/systemd/user/sentrel.service lib/systemd/system/sentrel@.service \
    share/man/man1/sentrel.1; do
    [ -s "$prefix/$f" ] || fail "$f was not installed"
done
module=$(find "$prefix" -path "*/sentrel/sentrel-mail.so" -type f) && [ -n "$module" ] ||
    fail "the service's mail module was not installed"
file "$prefix/share/icons/hicolor/48x48/apps/$id.png" | grep -q "48 x 48" || fail "the 48 pixel icon is not 48 x 48"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "the desktop entry does not validate"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry names another icon"
appstreamcli validate --no-net --explain "$prefix/share/metainfo/$id.metainfo.xml" >"$scratch/appstream.log" ||
    { cat "$scratch/appstream.log"; fail "the AppStream metadata does not validate"; }
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "the metadata's release is not $version"

unit=$prefix/lib/systemd/user/sentrel.service
grep -qx "ExecStart=$prefix/bin/sentrel --headless" "$unit" || fail "the unit does not start the installed program: $(grep ExecStart "$unit")"
grep -qx "Type=exec" "$unit" && grep -qx "Restart=on-failure" "$unit" || fail "the unit's Type or Restart is wrong"

# The system unit: an instance per profile, checked by systemd itself where it is here.
system_unit=$prefix/lib/systemd/system/sentrel@.service
grep -qx "ExecStart=$prefix/bin/sentrel-headless --profile %I" "$system_unit" ||
    fail "the system unit does not start the installed service: $(grep ExecStart "$system_unit")"
if command -v systemd-analyze >/dev/null; then
    verified=$(MANPATH=$prefix/share/man: systemd-analyze verify "$system_unit" 2>&1) && [ -z "$verified" ] ||
        fail "systemd-analyze verify finds fault with the system unit: $verified"
else
    echo "skipped: systemd-analyze verify of the system unit (systemd-analyze is not installed)"
fi

man_warnings=$(groff -man -ww -z -Tutf8 "$prefix/share/man/man1/sentrel.1" 2>&1)
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"
grep -q "$prefix/share/sentrel/Templates" "$prefix/share/man/man1/sentrel.1" || fail "the manual names another template folder"
grep -q "$module" "$prefix/share/man/man1/sentrel.1" || fail "the manual names another mail module"

echo "== the installed program"
[ "$("$prefix/bin/sentrel" --version)" = "sentrel $version" ] || fail "--version says $("$prefix/bin/sentrel" --version)"
"$prefix/bin/sentrel" --help | grep -q -- "--headless" || fail "--help does not mention --headless"

# The installed templates, and no other, fill the mail: mark the installed one.
sed -i 's/^Subject: /Subject: [installed] /' "$prefix/share/sentrel/Templates/NotifyOnChange.eml"
grep -q '^Subject: \[installed\]' "$prefix/share/sentrel/Templates/NotifyOnChange.eml" || fail "the change template has no Subject line"

mkdir -p "$scratch/mail" "$scratch/files"
coproc SINK { exec /usr/bin/python3 "$source/tests/common/smtp_sink.py" --port 0 --out "$scratch/mail"; }
sink_pid=$SINK_PID
read -r port <&"${SINK[0]}"
watched=$scratch/files/nightly.csv
echo "id;amount" >"$watched"
touch -d '-1 hour' "$watched"
profile="$XDG_DATA_HOME/Brackwell/Utilities/Sentrel v1/Profiles/Profile1"
mkdir -p "$profile"
cat >"$profile/Sentrel.ini" <<INI
[General]
NumberFiles=1
PollInterval=1

[SMTPServer]
Address=127.0.0.1
Port=$port

[Email]
From=sentrel@example.org
To=ops@example.org

[File1]
FileName=$watched
FriendlyName=Nightly export
LastModified=$(date -d '-1 hour' +%Y-%m-%dT%H:%M:%S)
INI
"$prefix/bin/sentrel" --headless >"$scratch/history.txt" 2>"$scratch/errors.txt" &
service_pid=$!
sleep 1.5
echo "1;42" >>"$watched"
for _ in $(seq 100); do
    grep -q "Changed Notification Email Sent OK" "$scratch/history.txt" && break
    sleep 0.1
done
grep -q "File:nightly - Changed Notification Email Sent OK" "$scratch/history.txt" ||
    fail "no mail from the installed service: $(cat "$scratch/history.txt" "$scratch/errors.txt")"
grep -q '^Subject: \[installed\] ' "$scratch/mail"/*.eml || fail "the mail was not made from the installed template"
kill -TERM "$service_pid"
wait "$service_pid" || fail "the service did not end cleanly on SIGTERM"
service_pid=

echo "== the system unit's command and environment"
# Its state folder (%S/sentrel) stands in for /var/lib/sentrel, where the README puts the profiles.
state=$scratch/var-lib
mkdir -p "$state/sentrel/Brackwell/Utilities/Sentrel v1/Profiles/Server" "$scratch/run/sentrel/Server"
chmod 700 "$scratch/run/sentrel/Server"
cp "$profile/Sentrel.ini" "$state/sentrel/Brackwell/Utilities/Sentrel v1/Profiles/Server/"
unit_environment=$(sed -n 's/^Environment=//p' "$system_unit" | sed "s|%S|$state|g; s|%t|$scratch/run|g; s|%i|Server|g")
unit_command=$(sed -n 's/^ExecStart=//p' "$system_unit" | sed 's|%I|Server|g')
# shellcheck disable=SC2086 # the unit's words, split as systemd splits them
env -i PATH="$PATH" $unit_environment timeout 1.5 $unit_command >"$scratch/system.txt" 2>"$scratch/system-errors.txt" || true
grep -q "Sentrel started" "$scratch/system.txt" && ! grep -q "watches no files" "$scratch/system-errors.txt" ||
    fail "the system unit's service does not find its profile: $(cat "$scratch/system.txt" "$scratch/system-errors.txt")"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$scratch/deb" >"$scratch/cpack.log") || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch/deb"/sentrel_"$version"_*.deb) || fail "no package was made"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6core6 libgmime-3.0 libcurl libqt6svg6; do
    echo "$depends" | grep -q "$library" || fail "the package does not depend on $library: $depends"
done
dpkg-deb -x "$deb" "$scratch/unpacked"
[ -x "$scratch/unpacked/usr/bin/sentrel" ] && [ -x "$scratch/unpacked/usr/bin/sentrel-headless" ] || fail "the package has no programs in /usr/bin"
grep -qx "ExecStart=/usr/bin/sentrel --headless" "$scratch/unpacked/usr/lib/systemd/user/sentrel.service" ||
    fail "the packaged unit does not start /usr/bin/sentrel"
grep -qx "ExecStart=/usr/bin/sentrel-headless --profile %I" "$scratch/unpacked/usr/lib/systemd/system/sentrel@.service" ||
    fail "the package's system unit does not start /usr/bin/sentrel-headless"
[ -s "$scratch/unpacked/usr/share/sentrel/Templates/NotifyOnStale.eml" ] || fail "the package has no templates"
[ -n "$(find "$scratch/unpacked/usr/lib" -path "*/sentrel/sentrel-mail.so")" ] || fail "the package has no mail module"
echo "OK"
