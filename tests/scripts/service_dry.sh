#!/usr/bin/env bash
# The collection service run dry: the command line of packaging/systemd/kordel-collect@.service,
# started as a plain process in a working directory set up as the unit expects, against the
# pbxsim program. It waits for a PBX that is not there yet, collects, rides out the PBX going
# away and coming back, raises alarms (once each, through the alarm command too), writes one
# line per event, and stops cleanly on SIGTERM with every call once in the data file.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
UNIT="$(dirname "$0")/../../packaging/systemd/kordel-collect@.service"

taken_keys() {
  cat "$@" | awk 'function hex(s,  i, n) { n = 0; for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return n }
       $1 != "0F" || $2 != "FF" {
         t = (hex($3) + 256 * hex($4)) * 6 % 86400
         printf "%02d:%02d:%02d %d\n", int(t / 3600), int(t / 60) % 60, t % 60, hex($7) + 256 * hex($8)
       }'
}
file_keys() {
  LC_ALL=C awk '/^[0-9]/ { s = substr($0, 34); sub(/\(.*/, "", s); print substr($0, 12, 8), s + 0 }' "$1"
}
wait_for() {  # pattern in the service's log, within 30 s
  for _ in $(seq 300); do grep -q "$1" "$WORK/office/log.txt" && return 0; sleep 0.1; done
  fail "the service did not say \"$1\": $(cat "$WORK/office/log.txt")"
}

# The command line of the unit, with the program built here.
exec_start=$(sed -n 's/^ExecStart=//p' "$UNIT")
[ -n "$exec_start" ] || fail "no ExecStart in the unit"
workdir=$(sed -n 's/^WorkingDirectory=//p' "$UNIT")
[ "$workdir" = "/var/lib/kordel/%i" ] || fail "unexpected WorkingDirectory: $workdir"
grep -q '^Restart=on-failure' "$UNIT" || fail "the unit does not restart on failure"
grep -q '^SupplementaryGroups=dialout' "$UNIT" || fail "the service user is not in dialout"
command_line=${exec_start/\/usr\/bin\/kordel-cli/$CLI}

# The working directory of the instance "office", as the unit expects it.
mkdir -p "$WORK/office"
cd "$WORK/office" || exit 1
printf '\001\000' >Kordel.cfg
head -c 28 /dev/zero >>Kordel.cfg
printf 'TARIF_FNAME=%s\r\nREALTIME_FNAME=\r\nAUTO=' "$WORK/office/calls.txt" >KordelOut.cfg
cat >alarm.sh <<'ALARM'
#!/bin/sh
echo "$KORDEL_ALARM_STATE $KORDEL_ALARM_KIND $KORDEL_ALARM_TEXT" >>"$(dirname "$0")/alarms.txt"
ALARM
chmod +x alarm.sh
export KORDEL_COM1="$WORK/pbx"
export KORDEL_OPTIONS="--max-retry 2 --alarm-command $WORK/office/alarm.sh"
# The unit's command line, its $KORDEL_OPTIONS split as systemd splits it.
eval "set -- ${command_line//\$KORDEL_OPTIONS/$KORDEL_OPTIONS}"
"$@" 2>log.txt &
pid=$!

# 1. No PBX yet: the service waits and says so, without ending.
wait_for 'Ошибка при открытии СОМ-порта'
sleep 1
kill -0 $pid 2>/dev/null || fail "the service ended while the PBX was not there"

# 2. The PBX appears, its buffer 18 of 20 full: calls are collected, the fill alarm is raised.
cd "$WORK" || exit 1
start_sim --model 4 --capacity 20 --records 18 --seed 31 --calls-per-minute 60
cp /dev/null taken1.txt
cd office || exit 1
wait_for 'Связь с АТС установлена'
wait_for 'ALARM raised buffer-filling'
wait_for 'Сохранено записей'
sleep 2
cp "$WORK/taken.txt" "$WORK/taken1.txt"

# 3. The PBX goes away and comes back with its clock an hour off: the link is lost and back,
#    the fill alarm clears, the clock alarm is raised.
kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null
SIM_PID=
wait_for 'Повтор через'
cp "$WORK/taken.txt" "$WORK/taken1.txt"
cd "$WORK" || exit 1
start_sim --model 4 --capacity 100 --records 5 --seed 32 --calls-per-minute 60 \
  --clock "$(date -d '-1 hour' '+%Y-%m-%d %H:%M:%S')"
cd office || exit 1
wait_for 'Связь с АТС восстановлена'
wait_for 'ALARM cleared buffer-filling'
wait_for 'ALARM raised clock'
for _ in $(seq 100); do [ "$(wc -l <"$WORK/taken.txt")" -ge 5 ] && break; sleep 0.1; done

# 4. SIGTERM: a clean end, every call taken once in the data file.
kill -TERM $pid
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "the service ended with $rc on SIGTERM: $(cat log.txt)"
grep -q 'Сбор данных остановлен' log.txt || fail "no closing line"
taken_keys "$WORK/taken1.txt" "$WORK/taken.txt" >want.txt
file_keys calls.txt >got.txt
cmp -s want.txt got.txt || fail "the data file is not the records taken: $(diff want.txt got.txt | head -5)"
[ "$(wc -l <want.txt)" -ge 20 ] || fail "only $(wc -l <want.txt) calls collected"

# The alarm command ran once per alarm raised or cleared, with its kind and text.
[ "$(grep -c '^raised buffer-filling ' alarms.txt)" -eq 1 ] || fail "alarm command: $(cat alarms.txt)"
[ "$(grep -c '^cleared buffer-filling ' alarms.txt)" -eq 1 ] || fail "alarm command: $(cat alarms.txt)"
grep -q '^raised clock Часы АТС' alarms.txt || fail "no clock alarm command: $(cat alarms.txt)"
# One line per event, not per try or per byte.
[ "$(wc -l <log.txt)" -le 40 ] || fail "$(wc -l <log.txt) lines in the log: $(head -50 log.txt)"
sed "s/^/  log: /" log.txt
echo "service_dry: ok ($(wc -l <want.txt) calls, $(wc -l <log.txt) log lines)"
