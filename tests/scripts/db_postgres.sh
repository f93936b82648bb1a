#!/usr/bin/env bash
# Three sites, one PostgreSQL server: a collection service (kordel-cli collect) per site, each
# with a simulated PBX of its own, writes into one server at once. The server is stopped while
# they collect and started again: the data files go on growing meanwhile, and once the server
# is back the database catches up by itself. In the end it holds each site's calls exactly as
# its data file does, once each; the same extension at two sites stays two; the analysis of a
# site from the database gives what its data file gives.
# Arguments: the kordel-cli and pbxsim programs. Starts and stops a server of its own
# (tests/support/pg_server.sh).
set -u
CLI=$1
SIM=$2
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/lib/sim.bash"
server="$here/../support/pg_server.sh"
command -v psql >/dev/null || fail "psql is needed (apt-get install postgresql-client)"
unset KORDEL_DB KORDEL_SITE
cd "$WORK" || exit 1

PG=$(bash "$server" start) || fail "no PostgreSQL server could be started"
CI=$(bash "$server" conninfo "$PG")
sites=(A B C)
sims=()
collectors=()
finish() {
  for p in "${collectors[@]}" "${sims[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${collectors[@]}" "${sims[@]}"; do wait "$p" 2>/dev/null; done
  bash "$server" stop "$PG"
  cleanup
}
trap finish EXIT

sql() { psql "$CI" -At -c "$1"; }
file_calls() { LC_ALL=C grep -a '^[0-9]' "$1" 2>/dev/null | tr -d '\r' | LC_ALL=C sort; }
db_calls() { sql "SELECT convert_from(line, 'WIN1251') FROM calls WHERE site = '$1'" | LC_ALL=C sort; }
count_file() { file_calls "$1" | wc -l; }
count_db() { sql "SELECT count(*) FROM calls WHERE site = '$1'"; }

for i in 0 1 2; do
  s=${sites[$i]}
  mkdir "site$s"
  "$SIM" --link "$WORK/pbx$s" --records 40 --seed $((31 + i)) --serial $((1001 + i)) \
    --calls-per-minute 300 >/dev/null 2>&1 &
  sims+=($!)
done
for s in "${sites[@]}"; do
  for _ in $(seq 100); do [ -e "$WORK/pbx$s" ] && break; sleep 0.05; done
  [ -e "$WORK/pbx$s" ] || fail "simulator $s did not start"
done
for s in "${sites[@]}"; do
  (cd "site$s" && exec "$CLI" collect --port "$WORK/pbx$s" --data "$WORK/site$s/calls.txt" \
    --no-titles --db "$CI" --site "$s" 2>"$WORK/site$s/err.txt") &
  collectors+=($!)
done

# Every site's calls reach the server.
for s in "${sites[@]}"; do
  for _ in $(seq 300); do
    [ "$(count_file "site$s/calls.txt")" -ge 40 ] && [ "$(count_db "$s")" -ge 40 ] && break
    sleep 0.1
  done
  [ "$(count_db "$s")" -ge 40 ] || fail "site $s: $(count_db "$s") calls in the database: $(cat "site$s/err.txt")"
done

# The server goes away for 6 s; the collectors go on into their data files.
bash "$server" halt "$PG" || fail "the server did not stop"
declare -A atStop
for s in "${sites[@]}"; do atStop[$s]=$(count_file "site$s/calls.txt"); done
sleep 6
for s in "${sites[@]}"; do
  [ "$(count_file "site$s/calls.txt")" -gt "${atStop[$s]}" ] ||
    fail "site $s stopped collecting while the server was away"
done
bash "$server" resume "$PG" || fail "the server did not start again"
declare -A atResume
for s in "${sites[@]}"; do atResume[$s]=$(count_file "site$s/calls.txt"); done
# Caught up by themselves, while still collecting.
for s in "${sites[@]}"; do
  for _ in $(seq 900); do [ "$(count_db "$s" 2>/dev/null || echo 0)" -ge "${atResume[$s]}" ] && break; sleep 0.1; done
  [ "$(count_db "$s")" -ge "${atResume[$s]}" ] ||
    fail "site $s did not catch up: $(count_db "$s") of ${atResume[$s]}: $(cat "site$s/err.txt")"
done

# Stopped: each site's calls in the database are exactly those of its data file.
for p in "${collectors[@]}"; do kill -TERM "$p"; done
for p in "${collectors[@]}"; do wait "$p" || fail "a collector ended with $?"; done
collectors=()
total=0
for s in "${sites[@]}"; do
  cmp -s <(file_calls "site$s/calls.txt") <(db_calls "$s") ||
    fail "site $s: the database differs from the data file: $(diff <(file_calls "site$s/calls.txt") <(db_calls "$s") | head -5)"
  grep -q 'PostgreSQL.*будут занесены в базу позже' "site$s/err.txt" ||
    fail "site $s did not say the server was away: $(cat "site$s/err.txt")"
  grep -q 'снова принимает звонки' "site$s/err.txt" || fail "site $s did not say the server was back"
  total=$((total + $(count_file "site$s/calls.txt")))
done
[ "$(sql "SELECT count(*) - count(DISTINCT (site, line)) FROM calls")" = 0 ] || fail "a call stored twice"
[ "$(sql "SELECT count(DISTINCT pbx_serial) FROM calls")" = 3 ] || fail "not three PBXs"
[ "$(sql "SELECT count(DISTINCT (site, hardware)) > count(DISTINCT hardware) FROM calls")" = t ] ||
  fail "no extension found at two sites"

# The analysis of one site from the database is that of its data file; of all three, the sum,
# with the numbers named by site.
"$CLI" analyze --db "$CI" --site B --format json --table summary,extensions,trunks,days >db.json 2>err.txt ||
  fail "analyze --db failed: $(cat err.txt)"
"$CLI" analyze siteB/calls.txt --format json --table summary,extensions,trunks,days >file.json 2>err.txt ||
  fail "analyze of the file failed: $(cat err.txt)"
"$CLI" analyze --db "$CI" --format json --table summary,extensions >all.json 2>err.txt ||
  fail "analyze of all sites failed: $(cat err.txt)"
grep -q 'SITE/NUMBER' err.txt || fail "the analysis did not say how the sites are named: $(cat err.txt)"
python3 - "$total" <<'EOF' || fail "the analyses do not agree"
import json, sys
db, files, both = (json.load(open(n)) for n in ("db.json", "file.json", "all.json"))
for key in ("files", "duplicates"):
    for d in (db, files):
        d["summary"][0].pop(key)
assert db == files, (db["summary"], files["summary"])
assert both["summary"][0]["calls"] == int(sys.argv[1]), both["summary"]
# Keyed by programmed number, a call without one is "апп." and the site's hardware number.
names = {row["extension"].removeprefix("апп.").split("/")[0] for row in both["extensions"]}
assert names == {"A", "B", "C"}, names
EOF

"$CLI" db status --db "$CI" >status.txt 2>err.txt || fail "db status failed: $(cat err.txt)"
[ "$(grep -c 'взято байт' status.txt)" -eq 3 ] || fail "db status: $(cat status.txt)"
exit 0
