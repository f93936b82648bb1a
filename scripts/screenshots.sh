#!/usr/bin/env bash
# Takes the pictures of kordel's windows for the documentation: the main window after a read
# of a simulated PBX, the settings dialog, the About window, the report window with the data
# file of that read loaded, the dialog that chooses the data file, and the call analysis window
# over a generated month of calls, saved in docs/screenshots/ as main_window.png, settings.png,
# about.png, report.png, file_dialog.png and analysis.png.
#
# Usage: scripts/screenshots.sh [KORDEL [PBXSIM]]
#   KORDEL  the built kordel program, PBXSIM the built pbxsim program; when left out they are
#           looked for in the build directories of the repository. Nothing is built here.
#
# kordel runs under Xvfb in a scratch directory whose configuration files point at the
# simulator ("COM1" is the simulator's pseudo-terminal through KORDEL_COM1) and read once at
# start-up; KORDEL_SCREENSHOT_DIR makes it save the pictures after that read and exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

find_binary() {  # find_binary RELATIVE_PATH: the newest build of it
  local found=""
  for candidate in "$root"/build*/"$1"; do
    if [[ -x "$candidate" && ( -z "$found" || "$candidate" -nt "$found" ) ]]; then
      found=$candidate
    fi
  done
  [[ -n "$found" ]] || { echo "screenshots.sh: no built $1; pass its path" >&2; exit 2; }
  echo "$found"
}

kordel=$(realpath "${1:-$(find_binary src/app/kordel)}")
pbxsim=$(realpath "${2:-$(find_binary tools/pbxsim/pbxsim)}")
out="$root/docs/screenshots"
mkdir -p "$out"

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n "$sim_pid" ]]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A QTR160 with 25 calls waiting, reached through a fixed link name.
"$pbxsim" --model 4 --records 25 --seed 7 --capacity 200 --link "$work/pbx" >"$work/pbxsim.out" &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$work/pbx" ]] && break; sleep 0.05; done
[[ -e "$work/pbx" ]] || { echo "screenshots.sh: pbxsim did not start" >&2; exit 1; }

# Kordel.cfg: port 1, title lines on, 28 zero bytes. KordelOut.cfg: files and read once.
{ printf '\001\001'; head -c 28 /dev/zero; } >"$work/Kordel.cfg"
printf 'TARIF_FNAME=%s\r\nREALTIME_FNAME=%s\r\nAUTO=AUTOSTART_1\r\n' \
  "$work/calls.txt" "$work/real_time.log" >"$work/KordelOut.cfg"

# A month of an office's calls for the analysis window (KORDEL_SCREENSHOT_ANALYSIS): busy
# working days with morning and afternoon peaks, quiet weekends, four trunks, the people of the
# example directory and two extensions outside it, priced by the example tariffs (the trunks
# are seized with 9).
mkdir -p "$work/analysis/data"
cp "$root/docs/examples/tariffs.csv" "$root/docs/examples/directory.csv" "$work/analysis/"
LC_ALL=C awk 'BEGIN {
  srand(7)
  n = split("201 202 203 210 211 220 221 230 240 241", ext, " ")
  for (day = 1; day <= 31; day++) {
    weekday = (day + 3) % 7          # 1 March 2024 was a Friday; 0..4 are Monday..Friday
    calls = weekday >= 5 ? 12 : 130
    for (i = 0; i < calls; i++) {
      hour = 8 + int(rand() * 10)
      if (rand() < 0.35) hour = 10 + int(rand() * 2)
      else if (rand() < 0.3) hour = 14 + int(rand() * 3)
      seconds = int(-log(1 - rand()) * 140) + 3
      x = ext[1 + int(rand() * n)]
      r = rand()
      if (r < 0.3) number = ""
      else if (r < 0.6) number = sprintf("92%06d", int(rand() * 1e6))
      else if (r < 0.8) number = sprintf("98495%07d", int(rand() * 1e7))
      else if (r < 0.95) number = sprintf("989%08d", int(rand() * 1e8))
      else number = sprintf("9810%09d", int(rand() * 1e9))
      printf "%02d-03-2024 %02d:%02d:%02d   %02d:%02d:%02d   %d(%4s)   %5s     %-21s\r\n",
             day, hour, int(rand() * 60), int(rand() * 60), int(seconds / 3600),
             int(seconds / 60) % 60, seconds % 60, x - 100, x, 1 + int(rand() * 4), number
    }
  }
}' >"$work/analysis/data/2024-03.txt"

pictures=(main_window settings about report file_dialog analysis)
for picture in "${pictures[@]}"; do rm -f "$out/$picture.png"; done
(
  cd "$work"
  KORDEL_COM1="$work/pbx" KORDEL_SCREENSHOT_DIR="$out" KORDEL_SCREENSHOT_ANALYSIS="$work/analysis" \
    ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s "-screen 0 1280x900x24" "$kordel"
)

for picture in "${pictures[@]}"; do
  [[ -s "$out/$picture.png" ]] || { echo "screenshots.sh: $picture.png was not made" >&2; exit 1; }
done
echo "Saved: ${pictures[*]/%/.png} in $out"
