#!/usr/bin/env bash
# Installs what is missing, builds Kordel, starts the PBX simulator on a pseudo-terminal with a
# few hundred call records (and new calls arriving), prepares a working directory whose
# configuration files point at it, and runs the program:
#   - with a display: the main window, connected to the simulated PBX and ready to read;
#   - without one: the same read unattended (start-up mode AUTOSTART_1, offscreen), then the
#     data file and its traffic report are printed.
# Options: --records N (default 300), --cli (use kordel-cli even with a display).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
records=300
cli=0
while [ $# -gt 0 ]; do
  case "$1" in
    --records) records=$2; shift 2 ;;
    --cli) cli=1; shift ;;
    *) echo "usage: $0 [--records N] [--cli]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORDEL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)"

work=$top/.work/run
rm -rf "$work"
mkdir -p "$work"
"$top/build/tools/pbxsim/pbxsim" --model 4 --records "$records" --calls-per-minute 6 \
  --link "$work/pbx" --taken "$work/taken.txt" >"$work/pbxsim.out" 2>"$work/pbxsim.err" &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/pbx" ] && break; sleep 0.1; done
[ -e "$work/pbx" ] || { echo "pbxsim did not start:" >&2; cat "$work/pbxsim.err" >&2; exit 1; }
export KORDEL_COM1=$work/pbx
echo "PBX simulator on $(head -n 1 "$work/pbxsim.out") (COM1 = $KORDEL_COM1)"

# Kordel.cfg: port 1, title lines on, 28 zero bytes.
head -c 30 /dev/zero | { printf '\001\001'; tail -c 28; } >"$work/Kordel.cfg"
auto=""
gui="$top/build/src/app/kordel"
if [ "$cli" = 0 ] && [ -x "$gui" ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  auto=AUTOSTART_1
fi
printf 'TARIF_FNAME=%s\r\nREALTIME_FNAME=%s\r\nAUTO=%s' \
  "$work/calls.txt" "$work/real_time.log" "$auto" >"$work/KordelOut.cfg"

cd "$work"
if [ "$cli" = 0 ] && [ -x "$gui" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening the main window; the data file is $work/calls.txt"
  "$gui"
  exit 0
fi
if [ "$cli" = 0 ] && [ -x "$gui" ]; then
  echo "No display: reading once under the offscreen platform (AUTOSTART_1)"
  QT_QPA_PLATFORM=offscreen "$gui"
else
  "$top/build/src/app/kordel-cli" status
  "$top/build/src/app/kordel-cli" read >/dev/null
fi
echo "== data file $work/calls.txt ($(wc -l <"$work/calls.txt") lines; records taken from the PBX: $(wc -l <"$work/taken.txt"))"
iconv -f CP1251 -t UTF-8 "$work/calls.txt"
echo "== traffic per subscriber line and trunk"
"$top/build/src/app/kordel-cli" report "$work/calls.txt"
