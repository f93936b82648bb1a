#!/usr/bin/env bash
# Takes the pictures of kordel's windows for the documentation: the main window after a read
# of a simulated PBX, the settings dialog, the About window, the report window with the data
# file of that read loaded, and the dialog that chooses the data file, saved in
# docs/screenshots/ as main_window.png, settings.png, about.png, report.png and
# file_dialog.png.
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

pictures=(main_window settings about report file_dialog)
for picture in "${pictures[@]}"; do rm -f "$out/$picture.png"; done
(
  cd "$work"
  KORDEL_COM1="$work/pbx" KORDEL_SCREENSHOT_DIR="$out" ASAN_OPTIONS=detect_leaks=0 \
    xvfb-run -a -s "-screen 0 1280x800x24" "$kordel"
)

for picture in "${pictures[@]}"; do
  [[ -s "$out/$picture.png" ]] || { echo "screenshots.sh: $picture.png was not made" >&2; exit 1; }
done
echo "Saved: ${pictures[*]/%/.png} in $out"
