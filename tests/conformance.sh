#!/bin/sh
# Runs the conformance kit, KIT (after the words of its LAUNCHER, if any), on a
# fresh simulated board of few accounts and a short lock_wait, which it fills
# to check the full-board refusal; removes the board after.
# Usage: conformance.sh KIT [LAUNCHER...]
kit=$1
shift
board=$(mktemp -d "${TMPDIR:-/tmp}/userctl-conformance.XXXXXX") || exit 2
printf 'lock_wait = 1\nmax_users = 20\n' >"$board/board.conf"
USERCTL_BOARD_DIR=$board "$@" "$kit" --changes-allowed --fill
status=$?
rm -r "$board"
exit $status
