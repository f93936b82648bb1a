#!/usr/bin/env bash
# A one-minute soak: kordel-cli read --continuous against the pbxsim program with calls
# arriving, checking the data file against the records taken and that memory and open
# descriptors stay flat (scripts/soak.sh runs the same for longer).
# Arguments: the kordel-cli and pbxsim programs.
set -u
exec bash "$(dirname "$0")/../../scripts/soak.sh" --seconds 60 --interval 2 --cli "$1" --sim "$2"
