#!/usr/bin/env bash
# kordel-cli report: tables on stdout, report files in Windows-1251 with CR LF, exit statuses.
#   report_cli.sh KORDEL_CLI [PBXSIM]
set -u
cli="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; fail=1; fi
}

printf '%s\r\n' \
  '05-03-2004 09:07:03   00:01:05   123( 201)       7     567                  ' \
  '05-03-2004 09:07:03   00:00:40   123( 201)       7                          ' \
  '05-03-2004 09:08:03   00:02:00   45(    )             8123                 ' \
  > "$work/data.txt"

out="$("$cli" report "$work/data.txt")"; rc=$?
check "tables exit 0" test "$rc" -eq 0
check "line row" grep -q '^123         201         00:01:05       00:00:40        00:01:45' <<<"$out"
check "blank trunk keeps the number out of the trunk" \
  grep -q '^          00:02:00       00:00:00        00:02:00' <<<"$out"

"$cli" report "$work/data.txt" --subscriber 201 --by prg --prefix 5 --calls "$work/c.txt" \
  --sort-lines hw --lines "$work/l.txt"
check "files exit 0" test $? -eq 0
expected_calls="$(printf '        \xcd\xe0\xf7\xe0\xeb\xee         \xc4\xeb\xe8\xf2.    \xc0\xef\xef.  \xcf\xf0\xe3.   \xd1\xcb     \xcd\xe0\xe1\xf0\xe0\xed\xed\xfb\xe9 \xed\xee\xec\xe5\xf0\r\n05.03.2004  09:07:03  00:01:05  123   201    7      567         \r\n' | od -An -tx1)"
check "call report bytes" test "$(LC_ALL=C od -An -tx1 "$work/c.txt")" = "$expected_calls"
check "line report sorted by hardware number" \
  test "$(sed -n '2p' "$work/l.txt" | cut -c1-3)" = "45 "

"$cli" report "$work/missing.txt" 2>/dev/null
check "missing file exits 8" test $? -eq 8
printf '05-13-2004 09:07:03   00:01:05   123( 201)       7     567                  \r\n' \
  > "$work/bad.txt"
err="$("$cli" report "$work/bad.txt" 2>&1 >/dev/null)"; rc=$?
check "bad line exits 8" test "$rc" -eq 8
check "bad line is named" grep -q 'строка 1 ' <<<"$err"
"$cli" report "$work/data.txt" --lines "$work" 2>/dev/null
check "unwritable report exits 9" test $? -eq 9

# A report never goes over its own data file, by whatever name; nothing is written then.
cp "$work/data.txt" "$work/v.txt"
ln -s "$work/v.txt" "$work/v-link.txt"
ln "$work/v.txt" "$work/v-hard.txt"
for target in v.txt v-link.txt v-hard.txt; do
  err="$("$cli" report "$work/v.txt" --lines "$work/l2.txt" --calls "$work/$target" 2>&1 >/dev/null)"
  rc=$?
  check "report onto the data file as $target exits 2" test "$rc" -eq 2
  check "the refusal names $target" grep -q "$target" <<<"$err"
  check "the data file stays whole ($target)" cmp -s "$work/data.txt" "$work/v.txt"
done
check "no other report is written either" test ! -e "$work/l2.txt"

# A FIFO is refused at once, as the data file and as a report.
mkfifo "$work/fifo"
timeout 10 "$cli" report "$work/fifo" 2>/dev/null
check "a FIFO as data file exits 8 at once" test $? -eq 8
timeout 10 "$cli" report "$work/data.txt" --trunks "$work/fifo" 2>/dev/null
check "a report onto a FIFO exits 9 at once" test $? -eq 9

# Terminal controls and a megabyte from a bad line reach stderr escaped and cut short.
{
  printf '05-13-2004 09:07:03   00:01:05   123( 201)       7     567\033]0;x\007\033[2J'
  head -c 1000000 /dev/zero | tr '\0' 5
  printf '\r\n'
} >"$work/hostile.txt"
err="$("$cli" report "$work/hostile.txt" 2>&1 >/dev/null)"; rc=$?
check "a hostile bad line exits 8" test "$rc" -eq 8
check "no raw escape byte reaches the terminal" \
  test "$(printf '%s' "$err" | LC_ALL=C tr -dc '\033\007' | wc -c)" -eq 0
check "the escape byte is shown as \\x1B" grep -qF '\x1B]0;x\x07' <<<"$err"
check "the message is cut short" test "${#err}" -lt 1000
exit $fail
