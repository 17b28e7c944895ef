# Runs the rows of cases.py: each one a run of the real userctl on a fresh simulated board.
#
# USERCTL names the binary; USERCTL_EMULATOR, when set, is the command (words joined by
# blanks) that runs it: qemu-ppc for the PowerPC build, valgrind for memcheck.
# Usage: run.py [SECTION...]   (every section by default)

import ctypes
import os
import re
import shlex
import subprocess
import sys
import tempfile

import cases

USERCTL = os.environ.get("USERCTL", "")
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
    with open(os.path.join(board, name), "wb") as f:
        f.write(content.encode() if isinstance(content, str) else content)


def log(board, name, pattern):
    # The texts of a log; every line must be whole.
    matches = [pattern.fullmatch(line) for line in read(board, name).splitlines()]
    assert all(matches), f"a malformed line in {name}"
    return [match.group(1) for match in matches]


def traces(board):
    return log(board, "trace.log", TRACE)


def snapshot(board):
    info = os.stat(os.path.join(board, "users")) if os.path.lexists(os.path.join(board, "users")) else None
    return read(board, "users"), info and (info.st_ino, info.st_mtime_ns)


def verifies(password, verifier):
    if verifier == "!" and LAUNCH:
        return True  # the cross-built board has no libxcrypt to make a hash
    crypt = ctypes.CDLL("libcrypt.so.1").crypt
    crypt.restype, crypt.argtypes = ctypes.c_char_p, [ctypes.c_char_p, ctypes.c_char_p]
    hashed = lambda word: (crypt(word.encode(), verifier.encode()) or b"").decode()
    return hashed(password) == verifier != hashed(password + "x")


def run(row, board):
    # Runs row on the board; returns its faults: each column whose value was not the one expected.
    for name, content in (("board.conf", row.conf), ("users", row.users)):
        if content is not None:
            write(board, name, content)
    if row.setup:
        row.setup(board)
    before = snapshot(board)
    argv, variables = command(row.words), env(board, row.faults)
    if row.sh:  # a script that calls userctl, for pipes and redirections
        argv = ["sh", "-c", 'userctl() { $LAUNCH "$USERCTL_BIN" "$@"; }; ' + row.sh]
        variables.update(LAUNCH=" ".join(LAUNCH), USERCTL_BIN=USERCTL)
    stdin = None if row.stdin is None else row.stdin.encode()
    done = subprocess.run(argv, input=stdin, stdin=subprocess.DEVNULL if stdin is None else None,
                          capture_output=True, env=variables, timeout=TIMEOUT)
    out, err = (stream.decode("utf-8", "surrogateescape") for stream in (done.stdout, done.stderr))
    users = read(board, "users").splitlines()
    added = sorted(set(users) - set(before[0].splitlines()))
    passwords = row.words[3:5] if row.words[:2] == ["add", "user"] else []
    everything = out + err + "".join(read(board, name) for name in BOARD_FILES)
    seen = {"status": done.returncode, "out": out, "err": err, "trace": traces(board),
            "events": log(board, "event.log", EVENT),
            "store": None if snapshot(board) == before else [user.rsplit(":", 1)[0] for user in users],
            "other files": sorted(set(os.listdir(board)) - BOARD_FILES),
            "passwords shown": [p for p in passwords if len(p) > 4 and p not in row.words[:3] + row.words[5:]
                                and p in everything],
            "verifiers failing": [a for a in added if passwords and not verifies(passwords[0], a.rsplit(":", 1)[1])]}
    expected = dict(vars(row), trace=[line.replace("@DIR@", board) for line in row.trace])
    return [f"{column}: expected {expected.get(column, [])!r}, got {value!r}"
            for column, value in seen.items() if value != expected.get(column, [])]


def screen(fd, until=None):
    # What the terminal fd shows until it ends with until, or until it closes.
    data = b""
    while until is None or not data.endswith(until):
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # EIO: every writer of the terminal has gone
            chunk = b""
        if not chunk:
            return data
        data += chunk
    return data


def terminal(board):
    # The question answered at a terminal: the passwords are gone from cmdline while it waits.
    words, question = cases.add("operator", name="dave_1234"), cases.PROMPT.format("dave_1234").encode()
    master, slave = os.openpty()
    tty = os.ttyname(slave)[len("/dev/"):]
    proc = subprocess.Popen(command(words), stdin=slave, stdout=slave, stderr=subprocess.PIPE, env=env(board))
    os.close(slave)
    try:
        seen = [screen(master, question)]
        if not LAUNCH:  # an emulator's or valgrind's cmdline is not the program's argument vector
            seen.append(open(f"/proc/{proc.pid}/cmdline").read().split("\0")[1:-1])
        os.write(master, b"y\r")
        seen += [screen(master), proc.stderr.read().decode(), proc.wait(TIMEOUT),
                 [event.split("\t")[2] for event in log(board, "event.log", EVENT)]]
    finally:
        proc.kill()
        proc.wait()
        proc.stderr.close()
        os.close(master)
    # the answer's echo, and the terminal it came from
    wanted = [question] + ([] if LAUNCH else [words[:3] + ["x" * len(words[3])] * 2 + words[5:]])
    wanted += [b"y\r\n", cases.ADDED, 0, [tty]]
    return [] if seen == wanted else [f"expected {wanted}, got {seen}"]


def main(sections):
    if not os.path.isfile(USERCTL):
        sys.exit(f"USERCTL={USERCTL!r} does not name the userctl binary")
    passed = failed = 0
    for section in sections or cases.CASES:
        checks = [(row.name, lambda board, row=row: run(row, board)) for row in cases.CASES[section]]
        checks += [("answered at a terminal", terminal)] if section == "ask" else []
        for name, check in checks:
            with tempfile.TemporaryDirectory(prefix="userctl-e2e-") as board:
                faults = check(board)
            for fault in faults:
                print(f"FAIL {section}: {name}: {fault}")
            passed, failed = passed + (not faults), failed + bool(faults)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
