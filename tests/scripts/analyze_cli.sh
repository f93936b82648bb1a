#!/usr/bin/env bash
# kordel-cli analyze: data files read from pbxsim (a copied file counted once), the costs and
# departments of known calls with the example tariffs and directory, and the CSV, XLSX and
# JSON read back with Python.
# Arguments: the kordel-cli and pbxsim programs.
set -u
CLI=$1
SIM=$2
source "$(dirname "$0")/lib/sim.bash"
examples="$(cd "$(dirname "$0")/../../docs/examples" && pwd)"
cd "$WORK" || exit 1

# 1. Records read from the simulated PBX, in a folder with a copy of the same file.
mkdir -p year
start_sim --model 4 --records 150 --seed 11
"$CLI" read --port "$WORK/pbx" --data "$WORK/year/jan.txt" --titles >/dev/null 2>err.txt ||
  fail "read failed: $(cat err.txt)"
cp year/jan.txt "year/jan copy.txt"
"$CLI" analyze year --format json --output all.json 2>err.txt || fail "analyze failed: $(cat err.txt)"
call_lines=$(grep -c '^[0-9]' year/jan.txt)
seconds=$(LC_ALL=C awk '/^[0-9]/ { s += substr($0, 23, 2) * 3600 + substr($0, 26, 2) * 60 + substr($0, 29, 2) }
                        END { print s }' year/jan.txt)
python3 - "$call_lines" "$seconds" <<'EOF' || fail "the pbxsim data did not add up"
import json, sys
lines, seconds = int(sys.argv[1]), int(sys.argv[2])
s = json.load(open("all.json"))["summary"][0]
assert s["bad_lines"] == 0, s
assert s["calls"] == lines, (s["calls"], lines)
assert s["duplicates"] == lines, s
assert s["files"] == 2, s
assert s["duration"] == seconds, (s["duration"], seconds)
EOF

# 2. Known calls in March, priced by the example tariffs, named by the example directory.
line() {  # DATE TIME SECONDS HW PRG TRUNK DIALED
  printf '%s %s   %02d:%02d:%02d   %s(%4s)   %5s     %-21s\r\n' "$1" "$2" $(($3 / 3600)) \
    $(($3 / 60 % 60)) $(($3 % 60)) "$4" "$5" "$6" "$7"
}
{
  line 29-02-2024 23:59:59 60 101 201 1 92000000         # February: not counted
  line 05-03-2024 09:00:00 61 101 201 1 984951234567     # Москва 1,80 x 2 = 3,60
  line 05-03-2024 09:10:00 125 102 202 1 92345678        # Местная 0,50 x 3 = 1,50
  line 05-03-2024 10:00:00 90 103 203 7 089161234567     # operator B per second: 2,55
  line 05-03-2024 11:00:00 300 110 210 1 ""              # incoming: 0
  line 05-03-2024 11:30:00 120 110 210 7 ""              # incoming on 7: 1,20 x 2 = 2,40
  line 06-03-2024 12:00:00 30 121 221 1 9810441234567    # Международная 18,00 + 0,50
  line 06-03-2024 12:05:00 40 130 230 1 95550000         # no tariff
  line 06-03-2024 12:10:00 2 199 299 1 989161234567      # within the free seconds: 0
  line 31-03-2024 23:59:50 100 101 201 1 92000000        # into April, counted: 1,00
  line 01-04-2024 00:00:00 60 101 201 1 92000000         # April: not counted
} >march.txt
run() { "$CLI" analyze march.txt --from 2024-03-01 --to 2024-03-31 --tariffs "$examples/tariffs.csv" \
          --directory "$examples/directory.csv" "$@"; }
run --format json --hide-digits 4 --table summary,extensions,departments,directions,longest,costliest,hours,days \
  >march.json 2>err.txt || fail "analyze failed: $(cat err.txt)"
python3 <<'EOF' || fail "the March JSON is wrong"
import json
d = json.load(open("march.json"))
s = d["summary"][0]
assert (s["calls"], s["cost"], s["unpriced"], s["incoming"]) == (9, 29.55, 1, 2), s
deps = {r["department"]: r["cost"] for r in d["departments"]}
assert deps == {"Отдел продаж / Москва": 6.10, "Отдел продаж / Тверь": 2.55, "Бухгалтерия": 2.40,
                "Дирекция": 18.50, "без отдела": 0.0, "вне справочника": 0.0}, deps
ext = {r["extension"]: (r["name"], r["cost"]) for r in d["extensions"]}
assert ext["201"] == ("Иванова Анна Сергеевна", 4.60), ext
dirs = {r["direction"]: r["calls"] for r in d["directions"]}
assert dirs["Мобильная (оператор Б)"] == 1 and dirs["без тарифа"] == 1, dirs
assert d["costliest"][0]["number"] == "981044123xxxx", d["costliest"][0]
assert d["longest"][0]["start"] == "2024-03-05T11:00:00", d["longest"][0]
assert [h["calls"] for h in d["hours"]][9:13] == [2, 1, 2, 3], d["hours"]
assert [day["date"] for day in d["days"]] == ["2024-03-05", "2024-03-06", "2024-03-31"], d["days"]
EOF

run --group top-department --format text >march.txt.out 2>err.txt || fail "text: $(cat err.txt)"
grep -q '^  Стоимость: *29,55$' march.txt.out || fail "no total in the text: $(head -20 march.txt.out)"
grep -Eq '^  Отдел продаж +3 +4 +4 +0 +00:06:16 +8,65 +0$' march.txt.out ||
  fail "no top department row: $(grep -A8 'верхнего' march.txt.out)"

run --format csv --table departments --output deps.csv 2>err.txt || fail "csv: $(cat err.txt)"
python3 <<'EOF' || fail "the CSV does not read back"
import csv
raw = open("deps.csv", "rb").read()
assert raw.startswith(b"\xef\xbb\xbf") and b"\r\n" in raw
rows = list(csv.reader(open("deps.csv", encoding="utf-8-sig", newline=""), delimiter=";"))
assert rows[0] == ["Отдел", "Абонентов", "Звонков", "Исходящих", "Входящих", "Длительность",
                   "Стоимость", "Без тарифа"], rows[0]
by = {r[0]: r for r in rows[1:]}
assert by["Отдел продаж / Москва"][6] == "6,10", by
assert by["Отдел продаж / Москва"][5] == "00:04:46", by
assert by["вне справочника"][7] == "0", by
EOF

run --format xlsx --output march.xlsx 2>err.txt || fail "xlsx: $(cat err.txt)"
python3 <<'EOF' || fail "the XLSX does not read back"
import re, zipfile
z = zipfile.ZipFile("march.xlsx")
book = z.read("xl/workbook.xml").decode()
names = re.findall(r'<sheet name="([^"]+)"', book)
assert names[:3] == ["Итого", "По абонентам", "По направлениям"], names
strings = re.findall(r"<t[^>]*>([^<]*)</t>", z.read("xl/sharedStrings.xml").decode())
summary = z.read("xl/worksheets/sheet1.xml").decode()
values = re.findall(r'<c r="([A-Z]+)2"[^>]*>(?:<f>[^<]*</f>)?<v>([^<]*)</v>', summary)
header = [strings[int(v)] for _, v in re.findall(r'<c r="([A-Z]+)1"[^>]*t="s"[^>]*><v>([^<]*)</v>', summary)]
cells = dict(values)
cost = cells[chr(ord("A") + header.index("Стоимость"))]
assert abs(float(cost) - 29.55) < 1e-9, cost
assert cells[chr(ord("A") + header.index("Звонков"))] == "9"
assert "Иванова Анна Сергеевна" in strings
EOF

# 3. Failures are reported with their exit status.
printf 'Префикс;Направление;Цена за минуту\r\n8;Межгород;abc\r\n' >bad.csv
"$CLI" analyze march.txt --tariffs bad.csv >/dev/null 2>err.txt
[ $? -eq 8 ] || fail "a wrong tariff file did not give exit 8"
grep -q 'строка 2: цена за минуту "abc"' err.txt || fail "the tariff row is not named: $(cat err.txt)"
"$CLI" analyze march.txt --format xlsx >/dev/null 2>&1
[ $? -eq 2 ] || fail "xlsx without --output did not give exit 2"
"$CLI" analyze missing.txt >/dev/null 2>&1
[ $? -eq 8 ] || fail "a missing data file did not give exit 8"
mkdir empty
"$CLI" analyze empty >/dev/null 2>&1
[ $? -eq 8 ] || fail "a folder without data files did not give exit 8"
"$CLI" analyze march.txt --output "$WORK/no/such/dir/out.txt" >/dev/null 2>&1
[ $? -eq 9 ] || fail "an unwritable output did not give exit 9"
# The analysis only reads a database: one that is not there (or a folder) is not made.
mkdir folder.sqlite
for db in missing.sqlite folder.sqlite; do
  "$CLI" analyze --db "$db" >/dev/null 2>err.txt
  [ $? -eq 8 ] || fail "a database $db that is not a file did not give exit 8"
  grep -q 'no such database file' err.txt || fail "no reason for $db: $(cat err.txt)"
done
[ ! -e missing.sqlite ] || fail "the analysis made a database file"
"$CLI" analyze march.txt --from 2024-02-30 >/dev/null 2>&1
[ $? -eq 2 ] || fail "an impossible date did not give exit 2"
# An output over a data file read (by another name, or found in a folder) is refused; the file
# keeps its bytes.
cp march.txt keep.txt
ln -s march.txt link.txt
for out in link.txt ./march.txt; do
  "$CLI" analyze march.txt --output "$out" >/dev/null 2>err.txt
  [ $? -eq 2 ] || fail "an output over the data file ($out) was not refused"
  grep -q 'это файл данных' err.txt || fail "no reason for the refusal: $(cat err.txt)"
done
"$CLI" analyze year --format csv --output "$(ls year/*.txt | head -1)" >/dev/null 2>&1
[ $? -eq 2 ] || fail "an output over a data file of the folder was not refused"
cmp -s march.txt keep.txt || fail "the data file changed"
echo "analyze_cli: ok"
