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
for dir in writable refusing; do printf 'lock_wait = 1\nmax_users = 14\n' >"$board/$dir/board.conf"; done
USERCTL_BOARD_DIR=$board/writable "$@" "$kit" --changes-allowed --fill
status=$?
USERCTL_BOARD_DIR=$board/refusing unshare -m sh -c 'mount --bind "$USERCTL_BOARD_DIR" "$USERCTL_BOARD_DIR" &&
  mount -o remount,ro,bind "$USERCTL_BOARD_DIR" && exec "$@" --changes-allowed --storage-refuses' - "$@" "$kit"
refused=$?
# The kit's own run: a report it cannot write ends it (2) before any add;
# ended by SIGTERM once it has named an account, it leaves none it did not.
mkdir "$board/own" && printf 'lock_wait = 1\nmax_users = 14\n' >"$board/own/board.conf"
USERCTL_BOARD_DIR=$board/own "$@" "$kit" --changes-allowed >&- 2>/dev/null
[ $? = 2 ] && [ ! -e "$board/own/users" ] || { echo "conformance.sh: the kit ran without its report" >&2; status=1; }
mkfifo "$board/report"
USERCTL_BOARD_DIR=$board/own "$@" "$kit" --changes-allowed --fill >"$board/report" 2>/dev/null &
exec 3<"$board/report"
while read -r line <&3; do
  echo "$line" >>"$board/named"
  case $line in "# adding account"*) break ;; esac
done
kill -TERM $!
wait $! 2>/dev/null
ended=$?
cat <&3 >>"$board/named"
exec 3<&-
{ [ $ended = 143 ] && cut -d: -f1 "$board/own/users" 2>/dev/null | while read -r name; do
  grep -q "account $name " "$board/named" || exit 1; done; } ||
  { echo "conformance.sh: SIGTERM: $ended" >&2; status=1; }
rm -r "$board"
[ $status = 0 ] && exit $refused
exit $status
