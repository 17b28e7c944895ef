# Adds killed with SIGKILL at random moments, at start-up and while they write the store: every
# add reported done is stored, the store stays whole, and the next add neither waits on a lock
# nor trips over a dead writer's leftovers. And while the store is held, its lock file removed:
# no other add writes the store meanwhile. (Adds started together, and adds sent other signals,
# are rows of cases.py.) A failure names the seed of its run; USERCTL_STRESS_SEED=N runs with
# that seed again.
import contextlib
import fcntl
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
import traceback

from run import BOARD_FILES, EVENT, LAUNCH, TIMEOUT, TRACE, command, env, log, read, write

ACCOUNT = re.compile(r"([A-Za-z][A-Za-z0-9_-]{7,31}):[1-5]:(0|[1-9]\d*):[!-9;-~]+")
ROUNDS, PER_ROUND, SEEDED = (5, 3, 200) if LAUNCH else (15, 4, 500)
SEED = int(os.environ.get("USERCTL_STRESS_SEED", random.randrange(1 << 32)))


def start(board, names):
    words = lambda name: command(["add", "user", name, "Secret#12", "Secret#12", "user", "quiet"])
    return [subprocess.Popen(words(name), env=env(board), stderr=subprocess.PIPE, text=True) for name in names]


def accounts(board, leftover={"users.tmp"}):
    # The stored names; fails on a torn or bad line, a name stored twice, or other files than the
    # board's (a writer killed mid-write leaves users.tmp, which the next writer removes).
    data = read(board, "users")
    lines = [ACCOUNT.fullmatch(line) for line in data.splitlines()]
    assert data.endswith("\n") or not data, f"torn store: {data[-80:]!r}"
    assert all(lines) and len({line[1] for line in lines}) == len(lines), "a bad line or a name stored twice"
    assert set(os.listdir(board)) <= BOARD_FILES | leftover and "NOT WHOLE" not in str(log(board, "trace.log", TRACE))
    return {line[1] for line in lines}


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


def lock_holder(board, procs, deadline):
    # The one of procs holding the store's lock file, or None.
    held = lambda: [p for p in procs if p.poll() is None and p.pid in flocks(f"{board}/users.lock")]
    return next(iter(until(held, deadline)), None)


def killed(board):
    # A store of a megabyte takes a while to copy and sync: kills land mid-write too.
    write(board, "users", "".join(f"seeded_{i:05d}:3:0:$y$" + "s" * 2000 + "\n" for i in range(SEEDED)))
    write(board, "board.conf", "max_users = 65535\n")
    rng, began = random.Random(SEED), time.monotonic()
    assert [proc.wait(TIMEOUT) for proc in start(board, ["first_add"])] == [0]
    span, reported = time.monotonic() - began, accounts(board)
    tried = set(reported)
    for round in range(ROUNDS):
        names = [f"crash_{round:03d}_{i}" for i in range(PER_ROUND)]
        tried |= set(names)
        procs = start(board, names)
        time.sleep(rng.uniform(0, span))
        rng.choice(procs).send_signal(signal.SIGKILL)  # anywhere from start-up on
        holder = lock_holder(board, procs, time.monotonic() + 2 * span)
        if holder:  # and while holding the lock: mid-write
            time.sleep(rng.uniform(0, span / 4))
            holder.send_signal(signal.SIGKILL)
        done = [proc.wait(TIMEOUT) for proc in procs]
        assert set(done) <= {0, -signal.SIGKILL}, done
        reported |= {name for name, status in zip(names, done) if status == 0}
        assert reported <= accounts(board) <= tried
    assert [proc.wait(TIMEOUT) for proc in start(board, ["after_crash"])] == [0]
    assert "after_crash" in accounts(board, leftover=set())


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
    assert {"waiting_add", "after_removal"} <= accounts(board, leftover=set())


if __name__ == "__main__":
    for test in (killed, removed_lock):
        with tempfile.TemporaryDirectory(prefix="userctl-stress-") as board:
            try:
                test(board)
            except AssertionError:
                sys.exit(f"FAIL {test.__name__} with USERCTL_STRESS_SEED={SEED}:\n{traceback.format_exc()}")
    print(f"2 passed, 0 failed (USERCTL_STRESS_SEED={SEED})")
