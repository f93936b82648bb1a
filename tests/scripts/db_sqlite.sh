#!/usr/bin/env bash
# kordel-cli and the SQLite calls database against the pbxsim program: a read fills
# kordel.sqlite beside the data file with exactly the data file's calls; "off" makes none;
# db status and db import (idempotent); a file locked by another program and a full disk hold
# the read back in nothing, and the database catches up by itself once they are gone.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
command -v sqlite3 >/dev/null || fail "the sqlite3 program is needed (apt-get install sqlite3)"
cd "$WORK" || exit 1
unset KORDEL_DB KORDEL_SITE

# The call lines of a data file, and the lines the database holds, sorted.
file_calls() { LC_ALL=C grep -a '^[0-9]' "$1" | tr -d '\r' | LC_ALL=C sort; }
db_calls() { sqlite3 "$1" "SELECT CAST(line AS TEXT) FROM calls" | LC_ALL=C sort; }
same_calls() { cmp -s <(file_calls "$1") <(db_calls "$2"); }
# Waits up to $3 seconds until the database holds exactly the data file's calls.
wait_same() {
  for _ in $(seq $(($3 * 10))); do same_calls "$1" "$2" && return 0; sleep 0.1; done
  return 1
}

# 1. A read fills kordel.sqlite beside the data file, in WAL mode, with the PBX of each call.
mkdir data
start_sim --model 4 --records 120 --seed 7 --serial 4711
"$CLI" read --port "$WORK/pbx" --data "$WORK/data/calls.txt" --titles >/dev/null 2>err.txt ||
  fail "read failed: $(cat err.txt)"
[ -f data/kordel.sqlite ] || fail "no kordel.sqlite beside the data file: $(ls data)"
[ "$(file_calls data/calls.txt | wc -l)" -ge 100 ] || fail "too few calls read"
same_calls data/calls.txt data/kordel.sqlite ||
  fail "the database differs from the data file: $(diff <(file_calls data/calls.txt) <(db_calls data/kordel.sqlite) | head -5)"
[ "$(sqlite3 data/kordel.sqlite 'PRAGMA journal_mode')" = wal ] || fail "not in WAL mode"
[ "$(sqlite3 data/kordel.sqlite "SELECT count(*) FROM calls WHERE pbx_serial <> '4711' OR pbx_serial IS NULL OR pbx_model <> 'QTR160' OR unit <> 0")" = 0 ] ||
  fail "calls without their PBX: $(sqlite3 data/kordel.sqlite 'SELECT pbx_serial, pbx_model, unit FROM calls LIMIT 3')"
site=$(sqlite3 data/kordel.sqlite "SELECT DISTINCT site FROM calls")
[ "$site" = "$(hostname)" ] || fail "the site is \"$site\", not the computer's name"

# 2. db status: all taken in. The same calls imported again (another name for them) add none;
# a file is imported once, however often it is imported.
"$CLI" db status --data data/calls.txt >status.txt 2>err.txt || fail "db status failed: $(cat err.txt)"
grep -q 'SQLite' status.txt && grep -q 'взят полностью' status.txt || fail "db status: $(cat status.txt)"
cp data/calls.txt copy.txt
"$CLI" db import --db data/kordel.sqlite copy.txt >out.txt 2>err.txt || fail "import failed: $(cat err.txt)"
grep -q 'занесено новых звонков 0 ' out.txt || fail "a copy of known calls added calls: $(cat out.txt)"
start_sim --model 4 --records 40 --seed 8
KORDEL_DB=off "$CLI" read --port "$WORK/pbx" --data "$WORK/other.txt" --no-titles >/dev/null 2>err.txt ||
  fail "read with the database off failed: $(cat err.txt)"
[ ! -e kordel.sqlite ] || fail "KORDEL_DB=off made a database"
new=$(file_calls other.txt | wc -l)
"$CLI" db import --db imported.sqlite other.txt >out.txt 2>&1 || fail "import failed: $(cat out.txt)"
grep -q "занесено новых звонков $new " out.txt || fail "import of $new new calls: $(cat out.txt)"
same_calls other.txt imported.sqlite || fail "the import differs from its data file"
"$CLI" db import --db imported.sqlite other.txt >out.txt 2>&1 || fail "import again failed"
grep -q 'прочитано строк звонков 0, занесено новых звонков 0 ' out.txt || fail "import again: $(cat out.txt)"
"$CLI" db import --db 'hots=x' other.txt >/dev/null 2>err.txt
[ $? -eq 2 ] || fail "a wrong --db was not a usage error"

# 3. Another program holds the file's write lock for 5 s while a continuous read saves calls
# arriving: the read goes on, says once that the database is locked, and the database has
# every call soon after the lock is gone.
start_sim --model 4 --records 30 --seed 9 --calls-per-minute 600
(printf 'BEGIN EXCLUSIVE;\n'; sleep 5; printf 'COMMIT;\n') | sqlite3 data/kordel.sqlite &
holder=$!
sleep 0.3
before=$(file_calls data/calls.txt | wc -l)
"$CLI" read --port "$WORK/pbx" --data "$WORK/data/calls.txt" --no-titles --continuous >/dev/null 2>err.txt &
reader=$!
sleep 3
during=$(file_calls data/calls.txt | wc -l)
[ "$during" -gt $((before + 20)) ] || fail "the read was held by the locked database ($before, then $during calls)"
wait $holder
wait_same data/calls.txt data/kordel.sqlite 40 ||
  fail "the database did not catch up after the lock: $(file_calls data/calls.txt | wc -l) calls, $(db_calls data/kordel.sqlite | wc -l) stored; $(cat err.txt)"
kill -TERM $reader
wait $reader || fail "the read ended with $?: $(cat err.txt)"
same_calls data/calls.txt data/kordel.sqlite || fail "calls missing after the stop"
grep -q 'database is locked' err.txt || fail "the lock was not said: $(cat err.txt)"
grep -q 'снова принимает звонки' err.txt || fail "the database back was not said: $(cat err.txt)"
[ "$(grep -c 'database is locked' err.txt)" -le 6 ] || fail "the lock was said on every try: $(cat err.txt)"
[ "$(sqlite3 data/kordel.sqlite 'SELECT count(*) - count(DISTINCT line) FROM calls')" = 0 ] ||
  fail "a call stored twice"

# 4. A full disk: the database on a 256 KB tmpfs of its own. The read takes every call into
# the data file; once the tmpfs is made larger, the database takes in the rest by itself.
mkdir small
if mount -t tmpfs -o size=256k tmpfs small 2>/dev/null; then
  trap 'umount "$WORK/small" 2>/dev/null; cleanup' EXIT
  start_sim --model 4 --records 3000 --seed 10 --capacity 4000
  "$CLI" read --port "$WORK/pbx" --data "$WORK/full.txt" --no-titles --continuous \
    --db "$WORK/small/calls.sqlite" >/dev/null 2>err.txt &
  reader=$!
  for _ in $(seq 300); do grep -q 'full' err.txt && break; sleep 0.1; done
  grep -q 'database or disk is full' err.txt || fail "the full disk was not said: $(cat err.txt)"
  for _ in $(seq 300); do [ "$(file_calls full.txt | wc -l)" -ge 2900 ] && break; sleep 0.1; done
  [ "$(file_calls full.txt | wc -l)" -ge 2900 ] || fail "the read was held by the full disk"
  stored=$(sqlite3 small/calls.sqlite 'SELECT count(*) FROM calls')
  [ "$stored" -lt "$(file_calls full.txt | wc -l)" ] || fail "the disk never filled ($stored calls)"
  mount -o remount,size=16m small || fail "the tmpfs could not be made larger"
  wait_same full.txt small/calls.sqlite 90 || fail "the database did not catch up after the disk had room"
  kill -TERM $reader
  wait $reader || fail "the read ended with $?: $(cat err.txt)"
  grep -q 'снова принимает звонки' err.txt || fail "the database back was not said: $(cat err.txt)"
  umount small
else
  echo "note: mounting a tmpfs is not permitted here; the full-disk case was left out"
fi
exit 0
