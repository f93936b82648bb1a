#!/usr/bin/env bash
# The Debian package, checked without installing it on this machine: built by
# scripts/package.sh, then its files against the layout it must have, its Depends, lintian,
# the unpacked programs run (and talking to each other), the menu entry, a plain
# "cmake --install" into a staging folder, and the maintainer scripts run in a private mount
# namespace over a copy of /etc.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh --test

fail=0
bad() { echo "FAILED: $*"; fail=1; }
ok() { echo "ok: $*"; }

deb=$(bash scripts/package.sh | tail -n 1)
echo "package: $deb"
tmp=$(mktemp -d)
pbxsim_pid=
cleanup() {
  [ -z "$pbxsim_pid" ] || kill "$pbxsim_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# --- What the package holds --------------------------------------------------------------
expected=(
  usr/bin/kordel usr/bin/kordel-cli usr/bin/kordel-pbxsim
  usr/share/applications/kordel.desktop
  usr/share/icons/hicolor/scalable/apps/kordel.svg
  usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/kordel.png
  usr/share/man/man1/{kordel,kordel-cli,kordel-pbxsim}.1.gz
  usr/lib/systemd/system/kordel-collect@.service
  usr/lib/systemd/system/kordel-report@.{service,timer}
  usr/share/doc/kordel/{README.md,copyright,changelog.Debian.gz}
  usr/share/doc/kordel/docs/{architecture,analysis,reliability,packaging}.md
  usr/share/doc/kordel/docs/examples/{tariffs,directory}.csv
)
# Anything else may only be more documentation, icons, pages or units of the program's own.
allowed='^usr/(bin/kordel(-cli|-pbxsim)?|share/applications/kordel\.desktop|share/icons/hicolor/[^/]+/apps/kordel\.(png|svg)|share/man/man1/kordel[-a-z]*\.1\.gz|lib/systemd/system/kordel[-a-z@]*\.(service|timer)|share/doc/kordel/.+)$'

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' >"$tmp/list"
for path in "${expected[@]}"; do
  grep -q " $path\$" "$tmp/list" || bad "the package lacks $path"
done
while read -r mode owner path; do
  [[ $path =~ $allowed ]] || bad "unexpected file in the package: $path"
  [ "$owner" = root/root ] || bad "$path is owned by $owner"
  case $path in
    usr/bin/*) want=-rwxr-xr-x ;;
    *) want=-rw-r--r-- ;;
  esac
  [ "$mode" = "$want" ] || bad "$path has mode $mode, not $want"
done <"$tmp/list"
ok "$(wc -l <"$tmp/list") files in the expected layout"

# --- Depends: the libraries the programs link (from dpkg-shlibdeps) and adduser ------------
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 'libxlsxwriter[0-9]*' libstdc\\+\\+6 libc6 \
  libsqlite3-0 libpq5 adduser qt6-qpa-plugins libqt6svg6 qt6-translations-l10n; do
  grep -Eq "(^|, )$lib( \(|,|$)" <<<"$depends" || bad "Depends lacks $lib"
done
for field in Package:kordel Version:2.15-1 Section:comm Architecture:"$(dpkg --print-architecture)"; do
  [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "${field#*:}" ] || bad "${field%%:*} is not ${field#*:}"
done

# --- lintian: no error, and no warning but those kept on purpose (docs/packaging.md) --------
kept_warnings='initial-upload-closes-no-bugs'
lintian "$deb" >"$tmp/lintian" 2>&1 || true
grep -v 'running with root privileges' "$tmp/lintian" || true
grep -q '^E: ' "$tmp/lintian" && bad "lintian reports errors"
if grep '^W: ' "$tmp/lintian" | grep -Ev ": ($kept_warnings)( |\$)" >/dev/null; then
  bad "lintian reports warnings that docs/packaging.md does not keep"
fi

# --- The unpacked programs run on the system's libraries ------------------------------------
root=$tmp/root
dpkg-deb -x "$deb" "$root"
for program in kordel kordel-cli kordel-pbxsim; do
  env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program" | grep 'not found' && bad "$program: a library is missing"
  readelf -d "$root/usr/bin/$program" | grep -q 'BIND_NOW' || bad "$program is linked without -z now"
  readelf -S "$root/usr/bin/$program" | grep -q '\.symtab' && bad "$program is not stripped"
done
help=$(env -u LD_LIBRARY_PATH "$root/usr/bin/kordel-cli" --help) || bad "kordel-cli --help failed"
grep -q '^Usage: kordel-cli COMMAND' <<<"$help" || bad "kordel-cli --help: no usage line"
help=$(env -u LD_LIBRARY_PATH "$root/usr/bin/kordel-pbxsim" --help) || bad "kordel-pbxsim --help failed"
grep -q '^Usage: pbxsim' <<<"$help" || bad "kordel-pbxsim --help: no usage line"

# The packaged simulator and command-line tool read five calls from one another.
coproc SIM { cd "$tmp" && exec env -u LD_LIBRARY_PATH "$root/usr/bin/kordel-pbxsim" --records 5; }
pbxsim_pid=$SIM_PID
read -r -t 10 device <&"${SIM[0]}" || bad "kordel-pbxsim printed no device"
if [ -n "${device:-}" ]; then
  (cd "$tmp" && env -u LD_LIBRARY_PATH "$root/usr/bin/kordel-cli" status --port "$device") \
    >"$tmp/status" 2>&1 || bad "kordel-cli status against kordel-pbxsim: $(cat "$tmp/status")"
  grep -q QTR160 "$tmp/status" || bad "kordel-cli status names no QTR160: $(cat "$tmp/status")"
  (cd "$tmp" && env -u LD_LIBRARY_PATH "$root/usr/bin/kordel-cli" read --port "$device" \
    --data calls.txt --no-titles) >"$tmp/read" 2>&1 || bad "kordel-cli read: $(cat "$tmp/read")"
  [ "$(wc -l <"$tmp/calls.txt" 2>/dev/null || echo 0)" = 5 ] || bad "kordel-cli read stored no five calls"
fi
kill "$pbxsim_pid" 2>/dev/null || true
wait "$pbxsim_pid" 2>/dev/null || true
pbxsim_pid=
ok "the unpacked programs ran"

# --- Menu entry, unit and manual pages ------------------------------------------------------
desktop-file-validate "$root/usr/share/applications/kordel.desktop" >"$tmp/desktop" 2>&1 ||
  bad "desktop-file-validate failed"
cat "$tmp/desktop"
grep -Eq 'error:|warning:' "$tmp/desktop" && bad "desktop-file-validate: errors or warnings"
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$root/usr/lib/systemd/system/kordel-collect@.service")
[ "$exec_start" = /usr/bin/kordel-cli ] && [ -x "$root$exec_start" ] ||
  bad "the unit starts \"$exec_start\", not the packaged kordel-cli"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || bad "man $page failed"
  [ -z "$warnings" ] || bad "$(basename "$page"): $warnings"
done
for size in 16 22 24 32 48 64 128 256; do
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$root/usr/share/icons/hicolor/${size}x$size/apps/kordel.png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$dims" = "${size}x$size" ] || bad "the ${size}x$size icon is $dims"
done

# --- A plain install elsewhere: the unit follows the prefix ---------------------------------
DESTDIR=$tmp/staged cmake --install "${KORDEL_PACKAGE_DIR:-build-package}" --prefix /opt/kordel >/dev/null
grep -q '^ExecStart=/opt/kordel/bin/kordel-cli ' "$tmp/staged/opt/kordel/lib/systemd/system/kordel-collect@.service" ||
  bad "installed under /opt/kordel, the unit does not start /opt/kordel/bin/kordel-cli"
[ -x "$tmp/staged/opt/kordel/bin/kordel-pbxsim" ] || bad "cmake --install left out kordel-pbxsim"

# --- Maintainer scripts, in a mount namespace of their own ---------------------------------
# The copy of /etc takes the service user; /var/lib, /var/log and /run are empty folders of
# the namespace; systemctl and deb-systemd-invoke are stand-ins that write down their calls.
dpkg-deb -e "$deb" "$tmp/control"
mkdir "$tmp/fakebin"
for tool in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$tool" "$tmp" >"$tmp/fakebin/$tool"
  chmod +x "$tmp/fakebin/$tool"
done
unshare --mount bash -s "$tmp" <<'SCRIPT' || bad "the maintainer scripts"
set -uo pipefail
t=$1 control=$1/control fail=0
bad() { echo "FAILED: maintainer scripts: $*"; fail=1; }
cp -a /etc "$t/etc" && mount --bind "$t/etc" /etc || exit 1
for dir in /var/lib /var/log /run; do mount -t tmpfs tmpfs "$dir" || exit 1; done
mkdir -p /run/systemd/system
export PATH=$t/fakebin:$PATH
# Runs one maintainer script; the calls it made are in $calls.
run() {
  : >"$t/calls"
  sh "$control/$1" "${@:2}" >"$t/out" 2>&1 || bad "$* failed: $(cat "$t/out")"
  calls=$(cat "$t/calls")
}
reload='systemctl --system daemon-reload'

run postinst configure ""
IFS=: read -r _ _ uid _ _ home shell < <(getent passwd kordel) || bad "no user kordel"
[ "${uid:-1000}" -lt 1000 ] || bad "kordel is no system user (uid ${uid:-none})"
[ "${home:-}" = /var/lib/kordel ] || bad "kordel's home is ${home:-none}"
[ "${shell:-}" = /usr/sbin/nologin ] || bad "kordel's shell is ${shell:-none}"
getent group kordel >/dev/null || bad "no group kordel"
id -nG kordel | tr ' ' '\n' | grep -qx dialout || bad "kordel is not in dialout"
[ "$(stat -c '%U:%G %a' /var/lib/kordel 2>&1)" = "kordel:kordel 750" ] ||
  bad "/var/lib/kordel: $(stat -c '%U:%G %a' /var/lib/kordel 2>&1)"
[ "$calls" = "$reload" ] || bad "first install called: $calls"

chmod 0755 /var/lib/kordel
run postinst configure 2.14-1
[ "$(getent passwd | grep -c '^kordel:')" = 1 ] || bad "a second configure made another user"
[ "$(getent group dialout | tr ',:' '\n\n' | grep -cx kordel)" = 1 ] ||
  bad "kordel is in dialout more than once"
[ "$(stat -c %a /var/lib/kordel)" = 755 ] || bad "an upgrade changed the folder's mode"
[ "$calls" = "$reload"$'\n'"deb-systemd-invoke try-restart kordel-collect@*.service" ] ||
  bad "an upgrade called: $calls"

run prerm upgrade 2.16-1
[ -z "$calls" ] || bad "prerm upgrade called: $calls"
run prerm remove
[ "$calls" = "deb-systemd-invoke stop kordel-collect@*.service" ] || bad "prerm remove called: $calls"
run postrm remove
[ "$calls" = "$reload" ] || bad "postrm remove called: $calls"

# Purge keeps the call data and the user; an empty folder goes.
mkdir /var/lib/kordel/office && echo call >/var/lib/kordel/office/calls.txt
run postrm purge
[ -f /var/lib/kordel/office/calls.txt ] || bad "purge deleted the call data"
getent passwd kordel >/dev/null || bad "purge removed the user"
rm -r /var/lib/kordel/office
run postrm purge
[ ! -e /var/lib/kordel ] || bad "purge left the empty /var/lib/kordel"
exit $fail
SCRIPT
ok "maintainer scripts checked"

if ((fail)); then
  echo "package check: FAILED"
  exit 1
fi
echo "package check: all passed"
