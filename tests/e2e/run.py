# Runs the rows of cases.py: each one a run of the real userctl on a fresh simulated board.
#
# USERCTL names the binary; USERCTL_EMULATOR, when set, is the command (words joined by
# blanks) that runs it: qemu-ppc for the PowerPC build, valgrind for memcheck.
# Usage: run.py [SECTION...]   (every section by default)

import calendar, collections, contextlib, ctypes, fcntl, os, re, resource, select, shlex, shutil, signal, stat
import subprocess, sys, tempfile, termios, time

import cases

USERCTL = os.path.abspath(os.environ.get("USERCTL", ""))
LAUNCH = shlex.split(os.environ.get("USERCTL_EMULATOR", ""))
# Where userctl runs: a row names those where it cannot (not_under).
BUILD = ("qemu" if "qemu" in " ".join(LAUNCH) else "memcheck" if "valgrind" in " ".join(LAUNCH)
         else "sanitizers" if os.environ.get("USERCTL_SANITIZED") == "1" else "native")
TIMEOUT = 120  # qemu-user and valgrind are slow to start; a hang must still end
BOARD_FILES = {"board.conf", "users", "locks", "trace.log", "event.log"}
TRACE = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z userctl\[\d+\]: (.*)")
EVENT = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\t(.*)")
ADD_WORDS = re.compile(r"add user (\S+) (\S+) (\S+)([^;|&\n]*)")  # an add in a script: name, passwords, the rest
STAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")
SESSIONS = None  # where the runner tells its reaper of each row's session, begun (+) and ended (-)


def env(board, faults=None):
    variables = {k: v for k, v in os.environ.items() if not k.startswith("USERCTL")}
    # Local time, should it be used, is not UTC here: a stamp must be UTC, yet marked Z.
    return dict(variables, TZ="XYZ-5:45", USERCTL_BOARD_DIR=board,
                **({} if faults is None else {"USERCTL_BOARD_FAULT": faults}))


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


def adds(row):
    # The adds a row makes: name -> (password, password again), from its script, else its words. A "- -" add takes
    # the first two lines typed: no row types for two.
    found = ADD_WORDS.findall(row.sh) if row.sh else [(*row.words[2:5], " ".join(row.words[5:]))] if (
        row.words[:2] == ["add", "user"] and len(row.words) >= 5) else []
    typed = row.stdin if isinstance(row.stdin, list) else row.stdin.split("\n") if isinstance(row.stdin, str) else []
    whole = lambda line: isinstance(line, str) and (line.endswith("\r") or not row.tty)  # a part without Enter is none
    lines = [line.rstrip("\r") for line in typed if whole(line)] + ["", ""]
    return {name: tuple(lines[:2]) if (pw, again) == ("-", "-") else (pw, again) for name, pw, again, _ in found}


# Every password the table uses: none may show on the console or in the board's files, whatever the row.
PASSWORDS = {pw for table in cases.CASES.values() for row in table for pair in adds(row).values() for pw in pair
             if len(pw) > 4}


def off_time(board, began, ended):
    # The logs' stamps that are no UTC time of the run.
    stamps = [line[:24] for name in ("trace.log", "event.log") for line in read(board, name).splitlines()]
    at = lambda stamp: calendar.timegm(time.strptime(stamp[:19], "%Y-%m-%dT%H:%M:%S")) + int(stamp[20:23]) / 1000
    return [stamp for stamp in stamps if STAMP.fullmatch(stamp) and not began - 1 <= at(stamp) <= ended + 1]


def repeated(users, added):
    # The new accounts whose verifier another account has too: each is made with a salt of its own.
    counts = collections.Counter(user.split(":")[3] for user in users if user.count(":") == 3)
    return [user.split(":")[0] for user in added if user.split(":")[3] != "!" and counts[user.split(":")[3]] > 1]


def verifies(password, verifier):
    crypt = ctypes.CDLL("libcrypt.so.1").crypt
    crypt.restype, crypt.argtypes = ctypes.c_char_p, [ctypes.c_char_p, ctypes.c_char_p]
    # yescrypt at libxcrypt's default cost (j9T): a lower one would still verify.
    return verifier.startswith("$y$j9T$") and (crypt(password.encode(), verifier.encode()) or b"").decode() == verifier


def default_signals():
    # A job started in the background ignores SIGINT and SIGQUIT, and its children inherit that.
    for number in (signal.SIGINT, signal.SIGQUIT):
        signal.signal(number, signal.SIG_DFL)


def state(pid, field=0):
    return open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[field]


def session(pid):
    # The session of a live process (not a zombie), or None.
    with contextlib.suppress(OSError, ValueError):
        return None if state(pid) == "Z" else int(state(pid, 3))


def end(sessions):
    # Every process of the sessions killed, until none is left.
    while alive := [pid for pid in map(int, filter(str.isdigit, os.listdir("/proc"))) if session(pid) in sessions]:
        for pid in alive:
            with contextlib.suppress(OSError):
                os.kill(pid, signal.SIGKILL)
        time.sleep(0.01)


def reaper():
    # A process of its own, out of ctest's reach (it kills the runner and its process group outright at its timeout),
    # that ends the sessions of the rows still running once the runner ends, however it ends. The runner tells it of
    # each row's session on the pipe this returns; one that has ended is forgotten, since its number may be reused.
    read_end, write_end = os.pipe()
    if os.fork() == 0:
        os.setsid()
        os.close(write_end)
        for fd in (0, 1, 2):
            os.dup2(os.open(os.devnull, os.O_RDWR), fd)
        sessions = set()
        for line in os.fdopen(read_end):  # until the runner's end closes
            (sessions.add if line[0] == "+" else sessions.discard)(int(line[1:]))
        end(sessions)
        os._exit(0)
    os.close(read_end)
    return write_end


def register(proc, sign="+"):
    # Tells the reaper of proc's session, begun (+) or ended (-).
    os.write(SESSIONS, f"{sign}{proc.pid}\n".encode())
    return proc


def at_terminal(row, argv, variables, child):
    # The row at its controlling terminal: each reply (or signal) of its stdin typed (or sent) once userctl waits for
    # it, a password's with echo off; a row without a reply asks nothing. Returns out, err, status, the terminal, the
    # command line and what of /proc its own user could read at the question, and what went wrong with the run
    # itself: no question, no end, or echo left off.
    master, slave = os.openpty()
    tty, deadline, out, cmdline, readable, problems = os.ttyname(slave)[5:], time.monotonic() + TIMEOUT, b"", "", [], []
    argv, other = with_own_utmp(row, tty, argv)
    if row.tty == "nonblocking":  # as a parent process may leave it
        fcntl.fcntl(slave, fcntl.F_SETFL, fcntl.fcntl(slave, fcntl.F_GETFL) | os.O_NONBLOCK)
    def controlling():  # in the child, a session leader already: the terminal becomes its controlling terminal
        default_signals()
        if row.tty != "not controlling":
            fcntl.ioctl(0, termios.TIOCSCTTY)

    proc = register(subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=subprocess.PIPE, env=variables,
                                     **dict(child, preexec_fn=controlling)))
    os.close(slave)
    typed, read = row.stdin if isinstance(row.stdin, list) else [] if row.stdin is None else [row.stdin], 0
    # The process at the terminal: the leader of its foreground group (a job a shell started), else the one started.
    at = lambda: next((pgrp for pgrp in [os.tcgetpgrp(master)] if pgrp > 0), proc.pid)
    for number, item in enumerate(typed):
        while not problems and not waiting(at(), master, out, read):
            out += terminal(master, time.monotonic() + 0.001)
            if proc.poll() is not None or time.monotonic() > deadline:
                problems.append("ended without asking" if proc.poll() is not None else f"nothing asked in {TIMEOUT} s")
        if problems:
            break
        if number == len(typed) - 1:  # at the question: what its command line shows, and what its user may read
            if not LAUNCH:  # an emulator's or valgrind's cmdline is not the program's argument vector
                cmdline = open(f"/proc/{at()}/cmdline").read()
            readable = [f for f in ("environ", "mem") if row.uid and os.stat(f"/proc/{at()}/{f}").st_uid == row.uid]
        if isinstance(item, int):  # sent as the terminal sends it, to its foreground group
            os.killpg(at(), item)
            shown = len(out)  # a stop is over once the shell that continues it has written to the terminal
            while item == signal.SIGTSTP and len(out) == shown and time.monotonic() < deadline:
                out += terminal(master, time.monotonic() + 0.01)
        else:  # a part of a line typed without Enter is not read while the line is open: nothing to wait for
            read = bytes_read(at()) + (len(item.encode()) if item.endswith("\r") else 0)
            os.write(master, item.encode())
    err, echoed, ending = collect(proc, master, deadline)
    out, problems = out + echoed, problems + ending
    os.close(master)
    register(proc, "-")
    if other:
        other.kill(), other.wait(), register(other, "-")
    return out, err, proc.returncode, tty, cmdline, readable, problems


def with_own_utmp(row, tty, argv):
    # argv run with a utmp file of the row's own in place of the system's, for this run alone, and the process of
    # another user's that its entries name (None when they name none).
    if not row.utmp:
        return argv, None
    own = 'mount -t tmpfs utmp /var/run && printf %s "$0" | utmpdump -r >/var/run/utmp 2>/dev/null && exec "$@"'
    other = None
    if "@OTHER@" in "".join(row.utmp):
        other = register(subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sleep",
                                           str(TIMEOUT)], start_new_session=True))
    entries = "".join(row.utmp).replace("@TTY@", tty).replace("@OTHER@", f"{other.pid if other else 0:05}")
    return ["unshare", "-m", "sh", "-c", own, entries, *argv], other


def collect(proc, master, deadline):
    # Once the row's process ends (ended, past deadline): its standard error, what the terminal still holds (the
    # answer's echo), and what went wrong: no end, or echo left off.
    problems = []
    try:
        err = proc.communicate(timeout=max(1, deadline - time.monotonic()))[1]
    except subprocess.TimeoutExpired:  # asked again and again, or waits for ever
        end({proc.pid})
        err, problems = proc.communicate()[1], [f"not ended within {TIMEOUT} s"]
    out = b""
    while chunk := terminal(master, 0):
        out += chunk
    if not termios.tcgetattr(master)[3] & termios.ECHO:
        problems.append("echo left off")
    return err, out, problems


bytes_read = lambda pid: int(re.search(r"rchar: (\d+)", open(f"/proc/{pid}/io").read())[1])


def waiting(pid, master, out, read):
    # Whether userctl waits for what is typed next: all typed before read (read bytes at least), asleep, and its
    # question shown or its typing hidden (a password's prompt is on standard error).
    with contextlib.suppress(OSError, ValueError):
        shown = out.endswith(b": ") or not termios.tcgetattr(master)[3] & termios.ECHO
        return shown and bytes_read(pid) >= read and state(pid) == "S"
    return False


def terminal(master, deadline):
    # What the terminal holds once it has something, by the deadline (0: now); b"" once no one holds it any more.
    if not select.select([master], [], [], max(0, deadline and deadline - time.monotonic()))[0]:
        return b""
    with contextlib.suppress(OSError):  # EIO: the other end is closed
        return os.read(master, 4096)
    return b""


def piped(argv, stdin, variables, child):
    # Runs argv with stdin (None: no input): out, err, status, what went wrong.
    proc = register(subprocess.Popen(argv, stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=variables, **child))
    try:
        return (*proc.communicate(stdin, timeout=TIMEOUT), proc.returncode, [])
    except subprocess.TimeoutExpired:
        end({proc.pid})  # a script's other processes too
        return (*proc.communicate(), proc.returncode, [f"not ended within {TIMEOUT} s"])
    finally:
        register(proc, "-")


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
    # Every row in a session of its own, with no controlling terminal unless a terminal row gives it one.
    child = dict(cwd=board, user=row.uid, group=row.uid, extra_groups=row.uid and [], preexec_fn=default_signals,
                 start_new_session=True)
    if row.sh:  # a script that calls userctl, for pipes and redirections
        argv = ["sh", "-c", 'userctl() { $LAUNCH "$USERCTL_BIN" "$@"; }; ' + row.sh]
        variables.update(LAUNCH=" ".join(LAUNCH), USERCTL_BIN=USERCTL)
    began = time.time()
    if row.tty:
        out, err, status, tty, cmdline, readable, problems = at_terminal(row, argv, variables, child)
    else:
        stdin = row.stdin.encode() if isinstance(row.stdin, str) else row.stdin
        (out, err, status, problems), tty, cmdline, readable = piped(argv, stdin, variables, child), "", "", []
    out, err = (stream.decode("utf-8", "surrogateescape") for stream in (out, err))
    err = re.sub(r"qemu: uncaught target signal .*\n", "", err)  # the emulator's own note of a signal death
    users = read(board, "users").splitlines()
    added, made = sorted(set(users) - set(before[0].splitlines())), adds(row)
    at = lambda text: text.replace("@DIR@", board).replace("@TTY@", tty)  # the run's state directory and terminal
    expected = dict(vars(row), out=at(row.out), err=at(row.err), trace=list(map(at, row.trace)),
                    events=list(map(at, row.events)))
    everything = out + err + cmdline + "".join(read(board, name) for name in BOARD_FILES | {"users.new"})
    seen = {"status": status, "out": out, "err": err, "trace": log(board, "trace.log", TRACE),
            "events": log(board, "event.log", EVENT),
            "store": None if snapshot(board) == before else [user.rsplit(":", 1)[0] for user in users],
            "run": problems,
            "other files": sorted(set(os.listdir(board)) - present),
            "files not 0600": [f for f in os.listdir(board) if os.path.isfile(os.path.join(board, f))
                               and os.stat(os.path.join(board, f)).st_mode & 0o777 != 0o600],
            "passwords shown": [p for p in sorted(PASSWORDS) if p in everything and p not in row.words[:3]],
            "verifiers failing": [a for a in added if not verifies(made.get(a.split(":")[0], [""])[0],
                                                                   a.split(":")[3])],
            "verifiers repeated": repeated(users, added),
            "stamps off the run's time": off_time(board, began, time.time()),
            "readable by its user": readable}
    if row.utmp and "qemu" in " ".join(LAUNCH):  # qemu-user hides the controlling terminal, which alone tells the login
        del seen["events"]
    left_out = lambda column: " (left out of the row)" if column in cases.NOTHING and column not in row.stated else ""
    return [f"{column}: expected {expected.get(column, [])!r}{left_out(column)}, got {value!r}"
            for column, value in seen.items() if value != expected.get(column, [])]


def lacking(row):
    # What the machine lacks of what the row needs, or None: a serial line is a character device that /sys names so.
    if not row.needs:
        return None
    with contextlib.suppress(OSError):
        info = os.stat(row.needs)
        named = os.readlink(f"/sys/dev/char/{os.major(info.st_rdev)}:{os.minor(info.st_rdev)}")
        if stat.S_ISCHR(info.st_mode) and os.path.basename(named) == os.path.basename(row.needs):
            return None
    return f"serial line {row.needs} that /sys names"


def main(sections):
    global USERCTL, SESSIONS
    SESSIONS = reaper()
    spare = os.openpty()  # held: no row's terminal is pts/0, whose number reads the same however it is reckoned
    resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY,) * 2)  # a core file is never lost
    if not os.path.isfile(USERCTL):
        sys.exit(f"USERCTL={USERCTL!r} does not name the userctl binary")
    print(f"A column a row leaves out is checked as {cases.NOTHING} (store None: unchanged, inode and mtime too)")
    # A copy that any user a row runs as can start, wherever the build is.
    os.chmod(copy := tempfile.mkdtemp(prefix="userctl-bin-"), 0o755)
    USERCTL = shutil.copy(USERCTL, copy)
    passed = failed = skipped = lacked = 0
    for section in sections or cases.CASES:
        for row in cases.CASES[section]:
            if BUILD in row.not_under:
                skipped += 1
                continue
            if missing := lacking(row):
                print(f"SKIP cases.py:{row.line} {section}: the machine has no {missing}")
                lacked += 1
                continue
            with tempfile.TemporaryDirectory(prefix="userctl-e2e-") as board:
                faults = run(row, board)
            what = row.sh or shlex.join(row.words)
            for fault in faults:
                print(f"FAIL cases.py:{row.line} {section}: {what[:100]}: {fault}")
            passed, failed = passed + (not faults), failed + bool(faults)
    print(f"{passed} passed, {failed} failed" + (f", {skipped} not run under {BUILD}" if skipped else "")
          + (f", {lacked} skipped" if lacked else ""))
    shutil.rmtree(copy)
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
