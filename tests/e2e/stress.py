# While the store is held, its lock file removed: no other add writes the store meanwhile. (Adds
# started together, killed mid-write or sent other signals are rows of cases.py.)
import contextlib
import fcntl
import os
import subprocess
import sys
import tempfile
import time
import traceback

from run import BOARD_FILES, TIMEOUT, command, env, read, write


def start(board, names):
    words = lambda name: command(["add", "user", name, "Secret#12", "Secret#12", "user", "quiet"])
    return [subprocess.Popen(words(name), env=env(board), stderr=subprocess.PIPE, text=True) for name in names]


def flocks(path):
    # The pids holding a flock on path (which may not exist).
    inode = str(os.stat(path).st_ino) if os.path.exists(path) else None
    locks = [line.split() for line in open("/proc/locks") if " -> " not in line]
    return {int(lock[4]) for lock in locks if lock[1] == "FLOCK" and lock[5].rsplit(":", 1)[1] == inode}


def has_open(proc, path):
    # Whether proc has path open: an add that waits for a lock tries it again and again, and shows as no waiter.
    with contextlib.suppress(OSError):
        return any(os.readlink(f"/proc/{proc.pid}/fd/{fd}") == path for fd in os.listdir(f"/proc/{proc.pid}/fd"))
    return False


def until(condition, deadline):
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.001)
    return condition()


def removed_lock(board):
    # The store held, as by an add stopped while it holds it (here the test holds its locks); one add waits on
    # users.lock, which is then removed as stale, and one more is started: it must wait too, and both end stored.
    deadline, path = time.monotonic() + TIMEOUT, os.path.join(board, "users.lock")
    write(board, "users", stored := "seeded_00000:3:0:!\n")
    lock, directory = open(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600), "w"), os.open(board, os.O_RDONLY)
    fcntl.flock(lock, fcntl.LOCK_EX), fcntl.flock(directory, fcntl.LOCK_EX)
    procs = start(board, ["waiting_add"])
    until(lambda: procs[0].poll() is not None or has_open(procs[0], path), deadline)
    assert has_open(procs[0], path), "the add does not wait on users.lock"
    os.unlink(path)
    procs += start(board, ["after_removal"])
    until(lambda: procs[1].poll() is not None or procs[1].pid in flocks(path), deadline)
    assert procs[1].pid in flocks(path), "the next add does not take the new users.lock and wait on the directory"
    assert read(board, "users") == stored, "an add wrote the store while it was held"
    lock.close(), os.close(directory)
    assert [proc.wait(TIMEOUT) for proc in procs] == [0, 0], [proc.stderr.read() for proc in procs]
    names = sorted(line.split(":")[0] for line in read(board, "users").splitlines())
    assert names == ["after_removal", "seeded_00000", "waiting_add"] and set(os.listdir(board)) <= BOARD_FILES, names


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(prefix="userctl-stress-") as board:
        try:
            removed_lock(board)
        except AssertionError:
            sys.exit(f"FAIL removed_lock:\n{traceback.format_exc()}")
    print("1 passed, 0 failed")
