#!/bin/sh
# Runs the conformance kit, KIT (after the words of its LAUNCHER, if any), on a
# fresh simulated board of few accounts and a short lock_wait, which it fills
# to check the full-board refusal; then on another whose state directory is
# mounted read-only, in a mount namespace of its own, to check what holds
# where storage refuses. Removes both boards after.
# Usage: conformance.sh KIT [LAUNCHER...]
kit=$1
shift
board=$(mktemp -d "${TMPDIR:-/tmp}/userctl-conformance.XXXXXX") || exit 2
mkdir "$board/writable" "$board/refusing" && chmod 700 "$board/writable" "$board/refusing" || exit 2
for dir in writable refusing; do printf 'lock_wait = 1\nmax_users = 20\n' >"$board/$dir/board.conf"; done
USERCTL_BOARD_DIR=$board/writable "$@" "$kit" --changes-allowed --fill
status=$?
USERCTL_BOARD_DIR=$board/refusing unshare -m sh -c 'mount --bind "$USERCTL_BOARD_DIR" "$USERCTL_BOARD_DIR" &&
  mount -o remount,ro,bind "$USERCTL_BOARD_DIR" && exec "$@" --changes-allowed --storage-refuses' - "$@" "$kit"
refused=$?
rm -r "$board"
[ $status = 0 ] && exit $refused
exit $status
