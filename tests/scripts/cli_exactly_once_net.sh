#!/usr/bin/env bash
# The exactly-once loop of cli_exactly_once.sh read through ser2net, raw TCP and RFC 2217: a
# SIGKILL or SIGTERM at a random moment, with the connection to the server cut with it. Ten of
# each per mode here (KORDEL_KILLS sets it).
# Arguments: the kordel-cli and pbxsim programs.
set -u
here=$(dirname "$0")
for mode in raw rfc2217; do
  KORDEL_NET_MODE=$mode KORDEL_KILLS=${KORDEL_KILLS:-10} bash "$here/cli_exactly_once.sh" "$1" "$2" ||
    exit 1
done
