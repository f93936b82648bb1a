#!/usr/bin/env bash
# The monthly report run dry: the command line of packaging/systemd/kordel-report@.service,
# unfolded as systemd unfolds it (continued lines, %% and %i, $$), run by sh in a working
# directory set up as the unit expects, with the kordel-cli built here and a sendmail that
# keeps the message. The XLSX holds the calls of the previous month and nothing else, and the
# mail carries it; without an address the report is written and nothing is sent.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$(realpath "$1")
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
UNITS="$(cd "$(dirname "$0")/../../packaging/systemd" && pwd)"
EXAMPLES="$(cd "$(dirname "$0")/../../docs/examples" && pwd)"
UNIT="$UNITS/kordel-report@.service"

grep -q '^OnCalendar=monthly$' "$UNITS/kordel-report@.timer" || fail "the timer is not monthly"
grep -q '^Persistent=true$' "$UNITS/kordel-report@.timer" || fail "a missed month is not made up"
grep -q '^Type=oneshot$' "$UNIT" || fail "the report is not a oneshot service"
[ "$(sed -n 's/^WorkingDirectory=//p' "$UNIT")" = "/var/lib/kordel/%i" ] ||
  fail "unexpected WorkingDirectory"

# ExecStart with its continued lines joined, the specifiers and $$ resolved.
exec_start=$(awk '/^ExecStart=/ { on = 1; sub(/^ExecStart=/, "") }
                  on { if (sub(/\\$/, " ")) { printf "%s", $0 } else { print; exit } }' "$UNIT")
case $exec_start in
  "/bin/sh -c '"*"'") ;;
  *) fail "ExecStart is not one sh -c script: $exec_start" ;;
esac
script=${exec_start#"/bin/sh -c '"}
script=${script%"'"}
script=$(printf '%s' "$script" | sed -e 's/%%/\x01/g' -e 's/%i/office/g' -e 's/\x01/%/g' \
  -e 's/\$\$/$/g' -e "s#/usr/bin/kordel-cli#$CLI#g")

# The instance "office": data files, tariffs and directory as the unit expects them.
month=$(date -d "$(date +%Y-%m-01) -1 month" +%Y-%m)
before=$(date -d "$month-01 -1 month" +%Y-%m)
this=$(date +%Y-%m)
dmy() { date -d "$1" +%d-%m-%Y; }
line() {  # DATE TIME SECONDS HW PRG TRUNK DIALED
  printf '%s %s   %02d:%02d:%02d   %s(%4s)   %5s     %-21s\r\n' "$(dmy "$1")" "$2" $(($3 / 3600)) \
    $(($3 / 60 % 60)) $(($3 % 60)) "$4" "$5" "$6" "$7"
}
last_day=$(date -d "$month-01 +1 month -1 day" +%Y-%m-%d)
mkdir -p "$WORK/office/data"
cd "$WORK/office" || exit 1
cp "$EXAMPLES/tariffs.csv" "$EXAMPLES/directory.csv" .
{
  line "$before-28" 12:00:00 60 101 201 1 92000000     # the month before: not counted
  line "$month-01" 00:00:00 61 101 201 1 984951234567  # counted, Москва 1,80 x 2
  line "$month-15" 10:00:00 125 102 202 1 92345678     # counted, Местная 0,50 x 3
  line "$month-15" 11:00:00 300 110 210 1 ""           # counted, incoming
  line "$last_day" 23:59:50 100 101 201 1 92000000     # counted, into the next month: 1,00
  line "$this-01" 00:00:00 60 101 201 1 92000000       # this month: not counted
} >data/calls.txt

cat >"$WORK/sendmail" <<'MAIL'
#!/bin/sh
echo "$@" >"$(dirname "$0")/mail.args"
cat >"$(dirname "$0")/mail.txt"
MAIL
chmod +x "$WORK/sendmail"
export KORDEL_REPORT_SENDMAIL="$WORK/sendmail" KORDEL_REPORT_MAIL=accounts@example.org
export KORDEL_REPORT_OPTIONS="--hide-digits 4"
sh -c "$script" >out.txt 2>&1 || fail "the report failed: $(cat out.txt)"
report="reports/calls-$month.xlsx"
[ -s "$report" ] || fail "no $report: $(ls -R)"
[ "$(cat "$WORK/mail.args")" = "-t" ] || fail "sendmail was called with: $(cat "$WORK/mail.args")"

python3 - "$report" "$WORK/mail.txt" "$month" <<'EOF_PY' || fail "the report or its mail is wrong"
import email, re, sys, zipfile
report, mail, month = sys.argv[1:4]
z = zipfile.ZipFile(report)
strings = re.findall(r"<t[^>]*>([^<]*)</t>", z.read("xl/sharedStrings.xml").decode())
sheet = z.read("xl/worksheets/sheet1.xml").decode()
header = [strings[int(v)] for v in re.findall(r'<c r="[A-Z]+1"[^>]*t="s"[^>]*><v>([^<]*)</v>', sheet)]
cells = dict(re.findall(r'<c r="([A-Z]+)2"[^>]*>(?:<f>[^<]*</f>)?<v>([^<]*)</v>', sheet))
value = lambda title: cells[chr(ord("A") + header.index(title))]
assert value("Звонков") == "4", cells
assert abs(float(value("Стоимость")) - 6.10) < 1e-9, cells
assert "98495123xxxx" in strings, strings
assert not any("1234567" in s for s in strings), "digits not hidden"
m = email.message_from_string(open(mail).read())
assert m["To"] == "accounts@example.org", m["To"]
assert m["Subject"] == "Kordel: calls of office in " + month, m["Subject"]
parts = m.get_payload()
assert "office" in parts[0].get_payload(decode=True).decode("utf-8")
attached = parts[1]
assert attached.get_filename() == "calls-%s.xlsx" % month, attached.get_filename()
assert attached.get_payload(decode=True) == open(report, "rb").read(), "the attachment is not the report"
EOF_PY

# Without an address: written again, nothing sent.
rm -f "$WORK/mail.txt" "$report"
KORDEL_REPORT_MAIL= sh -c "$script" >out.txt 2>&1 || fail "the report without mail failed: $(cat out.txt)"
[ -s "$report" ] || fail "no report without an address"
[ ! -e "$WORK/mail.txt" ] || fail "mail sent without an address"
echo "report_service_dry: ok ($report)"
