#!/usr/bin/env bash
# kordel-cli and damaged configuration files: what is wrong with them is said on stderr, and a
# FIFO, a device or a huge file in their place never holds the start.
#   cli_config.sh KORDEL_CLI [PBXSIM]
set -u
cli="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; fail=1; fi
}
port_config() { { printf '\001\001'; head -c 28 /dev/zero; } >Kordel.cfg; }
# status against a port that does not exist: the configuration is loaded, then exit 3.
status() { err="$(timeout 10 "$cli" status --port "$work/no-such-port" 2>&1 >/dev/null)"; rc=$?; }

port_config
printf 'TARIF_FNAME=calls.txt\r\nTARIF=x\033[2J\r\n\r\nREALTIME_FNAME=rt.log\r\nAUTO=' >KordelOut.cfg
status
check "a line without a key: exit 3 as before" test "$rc" -eq 3
check "the line is named by its number" grep -q 'Строка 2 файла KordelOut.cfg' <<<"$err"
check "and shown escaped" grep -qF 'TARIF=x\x1B[2J' <<<"$err"

rm KordelOut.cfg
mkfifo KordelOut.cfg
status
check "KordelOut.cfg as a FIFO does not hold the start" test "$rc" -eq 3
check "and is said to be no regular file" grep -q 'не является обычным файлом' <<<"$err"

rm KordelOut.cfg Kordel.cfg
mkfifo Kordel.cfg
err="$(timeout 10 "$cli" status 2>&1 >/dev/null)"; rc=$?
check "Kordel.cfg as a FIFO is replaced like a damaged file" test "$rc" -eq 2
check "and said so" grep -q 'заменен файлом по умолчанию' <<<"$err"
default_file() { test -f Kordel.cfg && test "$(od -An -tx1 -N2 Kordel.cfg)" = " 01 01"; }
check "the default file is in its place" default_file
exit $fail
