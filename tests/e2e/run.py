# Runs the rows of cases.py: each one a run of the real userctl on a fresh simulated board.
#
# USERCTL names the binary; USERCTL_EMULATOR, when set, is the command (words joined by
# blanks) that runs it: qemu-ppc for the PowerPC build, valgrind for memcheck.
# Usage: run.py [SECTION...]   (every section by default)

import contextlib
import ctypes
import fcntl
import os
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile
import termios
import time

import cases

USERCTL = os.path.abspath(os.environ.get("USERCTL", ""))
LAUNCH = shlex.split(os.environ.get("USERCTL_EMULATOR", ""))
TIMEOUT = 120  # qemu-user and valgrind are slow to start; a hang must still end
BOARD_FILES = {"board.conf", "users", "users.lock", "trace.log", "event.log"}
TRACE = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z userctl\[\d+\]: (.*)")
EVENT = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\t(.*)")


def env(board, faults=None):
    variables = {k: v for k, v in os.environ.items() if not k.startswith("USERCTL")}
    return dict(variables, USERCTL_BOARD_DIR=board, **({} if faults is None else {"USERCTL_BOARD_FAULT": faults}))


def command(words):
    return LAUNCH + [USERCTL] + list(words)


def read(board, name):
    path = os.path.join(board, name)
    return open(path, "rb").read().decode("utf-8", "surrogateescape") if os.path.isfile(path) else ""


def write(board, name, content):
    with open(os.open(os.path.join(board, name), os.O_WRONLY | os.O_CREAT, 0o600), "wb") as f:
        f.write(content.encode() if isinstance(content, str) else content)


def log(board, name, pattern):
    # The texts of a log; a line that is not whole shows as such.
    return [match.group(1) if match else f"NOT WHOLE: {line}" for line, match in
            ((line, pattern.fullmatch(line)) for line in read(board, name).splitlines())]


def snapshot(board):
    info = os.lstat(os.path.join(board, "users")) if os.path.lexists(os.path.join(board, "users")) else None
    return read(board, "users"), info and (info.st_ino, info.st_mtime_ns)


def verifies(password, verifier):
    if verifier == "!" and LAUNCH:  # the cross-built board has no libxcrypt to make a hash
        return True
    crypt = ctypes.CDLL("libcrypt.so.1").crypt
    crypt.restype, crypt.argtypes = ctypes.c_char_p, [ctypes.c_char_p, ctypes.c_char_p]
    hashed = lambda word: (crypt(word.encode(), verifier.encode()) or b"").decode()
    return hashed(password) == verifier != hashed(password + "x")


def run(row, board):
    # Runs row on the board; returns its faults: each column whose value was not the one expected.
    for name, content in (("board.conf", row.conf), ("users", row.users)):
        if content is not None:
            write(board, name, content() if callable(content) else content)
    if row.setup:
        row.setup(board)
    os.chown(board, row.uid or -1, row.uid or -1)  # -1: the owner left as it is
    before, present = snapshot(board), set(os.listdir(board)) | BOARD_FILES
    argv, variables = command(row.words), env(board, row.faults)
    # userctl runs in the state directory, where a core file would show as a stray file.
    child = dict(cwd=board, user=row.uid, group=row.uid, extra_groups=row.uid and [], start_new_session=True)
    if row.sh:  # a script that calls userctl, for pipes and redirections
        argv = ["sh", "-c", 'userctl() { $LAUNCH "$USERCTL_BIN" "$@"; }; ' + row.sh]
        variables.update(LAUNCH=" ".join(LAUNCH), USERCTL_BIN=USERCTL)
    cmdline, tty, readable, stdin = "", "", [], row.stdin.encode() if isinstance(row.stdin, str) else row.stdin
    if row.tty:  # the question asked at a terminal, answered once it shows
        master, slave = os.openpty()
        tty = os.ttyname(slave)[len("/dev/"):]
        if row.utmp:  # a utmp file of the row's own in place of the system's, for this run alone
            own = 'mount -t tmpfs utmp /var/run && printf %s "$0" | utmpdump -r >/var/run/utmp 2>/dev/null && exec "$@"'
            argv = ["unshare", "-m", "sh", "-c", own, "".join(row.utmp).replace("@TTY@", tty), *argv]
        # In the child, a session leader already: the terminal becomes its controlling terminal.
        child.update(preexec_fn=lambda: row.tty != "not controlling" and fcntl.ioctl(0, termios.TIOCSCTTY))
        if row.tty == "nonblocking":  # as a parent process may leave it
            fcntl.fcntl(slave, fcntl.F_SETFL, fcntl.fcntl(slave, fcntl.F_GETFL) | os.O_NONBLOCK)
        proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=subprocess.PIPE, env=variables, **child)
        os.close(slave)
        out = b""
        if stdin is not None:
            while not out.endswith(b": "):  # the question; EIO if userctl ends without asking
                out += os.read(master, 4096)
            while open(f"/proc/{proc.pid}/stat").read().rsplit(")", 1)[1].split()[0] not in "SZ":  # until it waits
                time.sleep(0.001)
            if not LAUNCH:  # an emulator's or valgrind's cmdline is not the program's argument vector
                cmdline = open(f"/proc/{proc.pid}/cmdline").read()
            # What of the process its own user could read, as a debugger would.
            readable = [f for f in ("environ", "mem") if row.uid and os.stat(f"/proc/{proc.pid}/{f}").st_uid == row.uid]
            proc.send_signal(stdin) if isinstance(stdin, int) else os.write(master, stdin)  # a signal, or a reply
        err, status = proc.stderr.read(), proc.wait(TIMEOUT)
        with contextlib.suppress(OSError):  # EIO: the terminal holds nothing more
            out += os.read(master, 4096)  # what it still holds: the answer's echo
        os.close(master)
        proc.stderr.close()
    else:
        done = subprocess.run(argv, input=stdin, stdin=subprocess.DEVNULL if stdin is None else None,
                              capture_output=True, env=variables, timeout=TIMEOUT, **child)
        out, err, status = done.stdout, done.stderr, done.returncode
    out, err = (stream.decode("utf-8", "surrogateescape") for stream in (out, err))
    err = re.sub(r"qemu: uncaught target signal .*\n", "", err)  # the emulator's own note of a signal death
    users = read(board, "users").splitlines()
    added = sorted(set(users) - set(before[0].splitlines()))
    passwords = row.words[3:5] if row.words[:2] == ["add", "user"] else []
    everything = out + err + cmdline + "".join(read(board, name) for name in BOARD_FILES)
    seen = {"status": status, "out": out, "err": err, "trace": log(board, "trace.log", TRACE),
            "events": log(board, "event.log", EVENT),
            "store": None if snapshot(board) == before else [user.rsplit(":", 1)[0] for user in users],
            "other files": sorted(set(os.listdir(board)) - present),
            "files not 0600": [f for f in os.listdir(board) if os.path.isfile(os.path.join(board, f))
                               and os.stat(os.path.join(board, f)).st_mode & 0o777 != 0o600],
            "passwords shown": [p for p in passwords if len(p) > 4 and p not in row.words[:3] + row.words[5:]
                                and p in everything],
            "verifiers failing": [a for a in added if passwords and not verifies(passwords[0], a.rsplit(":", 1)[1])],
            "readable by its user": readable}
    at = lambda text: text.replace("@DIR@", board).replace("@TTY@", tty)  # the run's state directory and terminal
    expected = dict(vars(row), err=at(row.err), trace=list(map(at, row.trace)), events=list(map(at, row.events)))
    if row.utmp and "qemu" in " ".join(LAUNCH):  # qemu-user hides the controlling terminal, which alone tells the login
        del seen["events"]
    return [f"{column}: expected {expected.get(column, [])!r}, got {value!r}"
            for column, value in seen.items() if value != expected.get(column, [])]


def main(sections):
    global USERCTL
    resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY,) * 2)  # a core file is never lost
    if not os.path.isfile(USERCTL):
        sys.exit(f"USERCTL={USERCTL!r} does not name the userctl binary")
    # A copy that any user a row runs as can start, wherever the build is.
    os.chmod(copy := tempfile.mkdtemp(prefix="userctl-bin-"), 0o755)
    USERCTL = shutil.copy(USERCTL, copy)
    passed = failed = 0
    for section in sections or cases.CASES:
        for row in cases.CASES[section]:
            with tempfile.TemporaryDirectory(prefix="userctl-e2e-") as board:
                faults = run(row, board)
            for fault in faults:
                print(f"FAIL {section}: {row.name}: {fault}")
            passed, failed = passed + (not faults), failed + bool(faults)
    print(f"{passed} passed, {failed} failed")
    shutil.rmtree(copy)
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
