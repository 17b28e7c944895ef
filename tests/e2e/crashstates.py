# Every state a power cut during an add can leave the board in, each then listed and added to. The add's calls are
# recorded (strace, every call) and replayed on a model of the state directory in which a write persists whole or not
# at all, at its offset, but the last pending write of each file, which may also persist torn (its first 512-byte
# sectors alone) or as the size it gave the file before its data (zeros), or both; a sync of a file makes its bytes
# and size durable, never its name; a create, rename (an exchange too) or removal of a name persists only once the
# directory is synced; and any subset of what is not yet durable may persist, in any order. A descriptor is followed
# by the path strace shows for it (-y), however it was opened or duplicated. Any call that names a path in the state
# directory and is not one the model knows, or that it cannot place (a write on a descriptor it never saw opened),
# stops the checker. On each state: the old accounts all there, every account stored with both lines of its record,
# the record of an add that never landed followed by the line that says so, and the list and the next add carried
# out. locks/ holds no data and is left out. Natively alone: under qemu-user, strace sees the emulator's calls.
import concurrent.futures, itertools, math, os, re, subprocess, sys, tempfile

from run import command, env

BOB, ERIN = b"bob_12345:3:0:!\n", b"erin_1234:3:0:!\n"
TRACE = b"2026-12-06T12:00:00.123Z userctl[4242]: Command completed. [add user %s ******** ******** ce]\n"
EVENT = b"2026-12-06T12:00:00.123Z\t1\troot\tconsole\t0xFF\tUser account %s: Add\n"
BOB_EVENT, ERIN_EVENT = EVENT % b"bob_12345", EVENT % b"erin_1234"
ALICE, CAROL = (["add", "user", name, "Secret#12", "Secret#12", "ce", "quiet"] for name in ("alice_123", "carol_123"))
# Files near a sector's end, which the add's writes cross.
BOBS = [b"bob_%05d" % n for n in range(31)]
OLD = {"users": b"".join(b"%s:3:0:!\n" % bob for bob in BOBS), "trace.log": b"".join(TRACE % bob for bob in BOBS[:4]),
       "event.log": b"".join(EVENT % bob for bob in BOBS[:6])}

# The board before alice_123's add, the faults injected into it, then its status and how many distinct states a
# power cut can leave (every one sound).
SCENARIOS = [
    ("fresh", {}, [], 0, 25),
    ("existing", OLD, [], 0, 21),
    ("recovery", {"users": BOB, "users.new": BOB + ERIN, "event.log": BOB_EVENT + ERIN_EVENT}, [], 0, 21),
    ("undo", OLD, ["-e", "inject=fdatasync:error=EIO:when=1"], 3, 36),
]

CALL = re.compile(r"(?:\d+ +)?(\w+)\((.*)\) += (\S+?)(?:<([^>]*)>)?(?: .*)?")
SECTOR = 512
# What the model knows, by how it finds its files: a call of any other kind that names a path in the state directory
# stops the checker, and so does a call of these that the model cannot place.
OPENS, DUPS, SYNCS = {"open", "openat", "openat2", "creat"}, {"dup", "dup2", "dup3"}, {"fsync", "fdatasync"}
RENAMES = {"rename": (None, 0, None, 1), "renameat": (0, 1, 2, 3), "renameat2": (0, 1, 2, 3)}
NAMED = {"unlink": (None, 0), "unlinkat": (0, 1), "mkdir": (None, 0), "mkdirat": (0, 1), "truncate": (None, 0)}
# Every path a call shows: the descriptors' (-y) and the strings, as -xx escapes them.
ESCAPED = re.compile(r'[<"]((?:\\x[0-9a-f]{2})+)[>"]')
# Calls that change no file: the checker lets them name the state directory.
READING = set("read pread64 readv preadv preadv2 lseek newfstatat fstat stat lstat statx fstatfs statfs flock"
              " getdents64 readlink readlinkat access faccessat faccessat2 fadvise64 munmap".split())


def text(escaped):
    # An argument as strace -xx shows it, quoted or within <>, as bytes.
    return bytes.fromhex(escaped.strip('"').replace("\\x", ""))


class Unmodelled(Exception):
    pass


class Model:
    # The state directory as the add left it (live) and as it is durable, and what is not yet durable, in order: a
    # name set (to an inode, or None), bytes written at an offset, a size cut, a size grown with no data (zeros). A
    # descriptor is followed by the path strace shows for it (-y), checked against the file the model opened there.
    def __init__(self, board, cwd, files):
        self.board, self.cwd = board, cwd
        self.names = {name: inode for inode, name in enumerate(files, 1)}  # a name removed: None
        self.data = {inode: files[name] for name, inode in self.names.items()}
        self.durable = dict(self.names), dict(self.data)
        self.pending, self.fds, self.states = [], {}, set()
        self.crash()

    @staticmethod
    def apply(names, data, op):
        if op[0] == "names":
            names.update(op[1])
        elif op[0] == "write":
            _, inode, at, bytes_ = op
            old = data.get(inode, b"").ljust(at, b"\0")
            data[inode] = old[:at] + bytes_ + old[at + len(bytes_):]
        else:  # "size" cuts or grows the file, "grow" grows it only
            _, inode, size = op
            old = data.get(inode, b"")
            data[inode] = old[:size].ljust(size, b"\0") if op[0] == "size" else old.ljust(size, b"\0")

    def do(self, op):
        self.apply(self.names, self.data, op)
        self.pending.append(op)

    def sync(self, which):
        # which: "dir", or an inode.
        kept = []
        for op in self.pending:
            if (op[0] == "names") == (which == "dir") and (which == "dir" or op[1] == which):
                self.apply(*self.durable, op)
            else:
                kept.append(op)
        self.pending = kept

    @staticmethod
    def torn(op):
        # A write cut short as a disk does: its first sectors alone, each with or without the size it gave the file
        # (zeros past them), and the size alone.
        _, inode, at, bytes_ = op
        end = at + len(bytes_)
        cuts = range((at // SECTOR + 1) * SECTOR, end, SECTOR)
        heads = [("write", inode, at, bytes_[:cut - at]) for cut in cuts]
        return [(("grow", inode, end),)] + [ops for head in heads for ops in ((head,), (head, ("grow", inode, end)))]

    def crash(self):
        # Every state the durable one and a subset of what is pending makes, the last pending write of each file
        # whole, torn or not there.
        last = {op[1]: index for index, op in enumerate(self.pending) if op[0] == "write"}
        choices = [[(), (op,)] + (self.torn(op) if index in last.values() else []) for index, op in
                   enumerate(self.pending)]
        assert math.prod(map(len, choices)) <= 1 << 16, self.pending
        for chosen in itertools.product(*choices):
            names, data = dict(self.durable[0]), dict(self.durable[1])
            for op in itertools.chain(*chosen):
                self.apply(names, data, op)
            self.states.add(tuple(sorted((name, data.get(inode, b"")) for name, inode in names.items() if inode)))

    def place(self, path):
        # Where path is: None outside the state directory (or relative), "dir" the directory, "locks" the lock
        # directory or in it (it holds no data, and is left out), "deep" deeper, else the name of a file in it.
        if path is None or not path.startswith("/") or os.path.commonpath([path, self.board]) != self.board:
            return None
        inside = os.path.relpath(path, self.board)
        return ("dir" if inside == "." else "locks" if inside.split("/")[0] == "locks" else
                "deep" if "/" in inside else inside)

    def resolve(self, args, fd, name):
        # The path a call names: its string name (at index name), from its directory descriptor (at index fd), else
        # from the working directory.
        given = os.fsdecode(text(args[name]))
        base = self.cwd if fd is None else os.fsdecode(text(args[fd].partition("<")[2].rstrip(">")))
        return self.place(os.path.normpath(os.path.join(base, given)))

    def call(self, name, line, result, shown):
        # One call strace recorded: result its value (None when not a number), shown the path of the descriptor it
        # returned, as -xx escapes it.
        args = line.split(", ")
        if result is None or result < 0:
            return  # nothing changed
        if name in OPENS or name in DUPS or (name == "fcntl" and "F_DUPFD" in line):
            self.opened(name, line, args, result, self.place(os.fsdecode(text(shown))) if shown else None)
        elif name in ("write", "pwrite64", "ftruncate"):
            self.wrote(name, args, self.fd_place(args[0]), result)
        elif name in SYNCS and self.fd_place(args[0]) not in (None, "locks"):
            where = self.fd_place(args[0])
            self.sync("dir" if where == "dir" else self.inode(where, args))
        elif name == "close":
            self.fds.pop(int(args[0].partition("<")[0]), None)
            return
        elif name in RENAMES:
            self.renamed(name, args)
        elif name in NAMED:
            self.named(name, args)
        elif name in READING or name in SYNCS or name == "fcntl" or (name == "mmap" and "MAP_SHARED" not in line):
            return
        elif any(self.place(os.fsdecode(text(path))) for path in ESCAPED.findall(line)):
            raise Unmodelled(f"the model knows no {name}({line})")
        else:
            return
        self.crash()

    @staticmethod
    def fd_path(arg):
        # A descriptor argument's path as strace shows it (-y), or None.
        path = arg.partition("<")[2].rstrip(">")
        return os.fsdecode(text(path)) if path else None

    def fd_place(self, arg):
        # Where the file of a descriptor argument is, by its path.
        path = self.fd_path(arg)
        return self.place(path.removesuffix(" (deleted)")) if path else None

    def opened(self, name, line, args, result, where):
        self.fds.pop(result, None)
        if name not in OPENS:  # a duplicate shares its file and position
            if int(args[0].partition("<")[0]) in self.fds:
                self.fds[result] = self.fds[int(args[0].partition("<")[0])]
            return
        if where in (None, "dir", "locks"):
            return
        if where == "deep":
            raise Unmodelled(f"{name}({line}) opens below the state directory")
        if self.names.get(where) is None:
            if "O_CREAT" not in line and name != "creat":
                raise Unmodelled(f"{name}({line}) opens {where}, which the model does not have")
            self.do(("names", {where: max(self.data, default=0) + 1}))
            self.data[self.names[where]] = b""
        self.fds[result] = {"inode": self.names[where], "append": "O_APPEND" in line, "at": 0}
        if "O_TRUNC" in line or name == "creat":
            self.do(("size", self.names[where], 0))

    def inode(self, where, args):
        # The file of the descriptor in args[0], opened as the model saw, and still at the path strace shows.
        if where in ("dir", "deep"):
            raise Unmodelled(f"a write or sync on {where} {args[0]}")
        file = self.fds.get(int(args[0].partition("<")[0]))
        moved = file is not None and self.names.get(where) != file["inode"]
        if file is None or (moved and not self.fd_path(args[0]).endswith(" (deleted)")):
            raise Unmodelled(f"a descriptor the model never saw opened, or not at its path: {args[0]}")
        return file["inode"]

    def wrote(self, name, args, where, result):
        if where in (None, "locks"):
            return
        inode, file = self.inode(where, args), self.fds[int(args[0].partition("<")[0])]
        if name == "ftruncate":
            self.do(("size", inode, int(args[1])))
            return
        offset = int(args[3]) if name == "pwrite64" else len(self.data[inode]) if file["append"] else file["at"]
        self.do(("write", inode, offset, text(args[1])[:result]))
        if name == "write":
            file["at"] = offset + result

    def renamed(self, name, args):
        old_fd, old, new_fd, new = RENAMES[name]
        flags = args[4] if name == "renameat2" else "0"
        source, target = self.resolve(args, old_fd, old), self.resolve(args, new_fd, new)
        if source == target == "locks" or source is target is None:
            return
        if {source, target} & {None, "dir", "deep", "locks"} or self.names.get(source) is None:
            raise Unmodelled(f"{name}({', '.join(args)}) moves a name into, out of or within the state directory")
        if flags == "RENAME_EXCHANGE":
            self.do(("names", {target: self.names[source], source: self.names.get(target)}))
        elif flags in ("0", "RENAME_NOREPLACE"):
            self.do(("names", {target: self.names[source], source: None}))
        else:
            raise Unmodelled(f"{name}({', '.join(args)}): flags the model does not know")

    def named(self, name, args):
        where = self.resolve(args, *NAMED[name])
        if where in (None, "locks"):
            return
        if where in ("dir", "deep", "locks") or name.startswith("mkdir") or self.names.get(where) is None:
            raise Unmodelled(f"{name}({', '.join(args)}) in the state directory")
        self.do(("size", self.names[where], int(args[1])) if name == "truncate" else ("names", {where: None}))


def make(board, files):
    os.mkdir(board, 0o700)
    for name, content in files:
        with open(os.open(os.path.join(board, name), os.O_WRONLY | os.O_CREAT, 0o600), "wb") as f:
            f.write(content)


def run(board, words, *tracing):
    return subprocess.run([*tracing, *command(words)], env=env(board), capture_output=True)


def states(top, files, faults):
    # The status of alice_123's add on a board of files, and every state a power cut during it can leave.
    board = os.path.join(top, "traced")
    make(board, sorted(files.items()))
    calls = os.path.join(top, "calls")
    added = run(board, ALICE, "strace", "-f", "-qq", "-y", "-xx", "-s", "1000000", "-o", calls, "-e", "signal=none",
                *faults)
    model = Model(os.path.realpath(board), os.getcwd(), files)
    for line in open(calls):
        if not (match := CALL.fullmatch(line.rstrip("\n"))):
            raise Unmodelled(f"a call the checker cannot read: {line}")
        name, args, result, shown = match.groups()
        number = re.fullmatch(r"-?(0x[0-9a-f]+|\d+)", result)
        model.call(name, args, int(result, 16 if "x" in result else 10) if number else None, shown)
    return added.returncode, model.states


def unsound(board, state, old):
    # What is wrong with state, once listed and added to.
    make(board, state)
    listed, added = run(board, ["show", "user_list"]), run(board, CAROL)
    path = lambda name: os.path.join(board, name)
    read = lambda name: open(path(name), "rb").read() if os.path.exists(path(name)) else b""
    trace, events = read("trace.log"), read("event.log")
    users = [line.split(b":")[0] for line in read("users").splitlines()]
    shown = [line.split()[0] for line in listed.stdout.splitlines()[1:]]
    recorded = set(re.findall(rb"Command completed\. \[add user (\S+) ", trace) +
                   re.findall(rb"\tUser account (\S+): Add\n", events))
    # Said after the record's trace line, when there is one.
    said = lambda name: b"board: an add of %s was interrupted before it was stored" % name in trace.rpartition(
        b"Command completed. [add user %s " % name)[2]
    return [fault for fault, found in (
        ("the list failed", listed.returncode),
        ("an old account lost", shown[:len(old)] != old or users[:len(old)] != old),
        ("the next add failed", added.returncode or b"carol_123" not in users),
        ("an account stored without its record",
         any(b"[add user %s " % user not in trace or b"User account %s: Add" % user not in events
             for user in users[len(old):])),
        ("an add that never landed, not said so", any(not said(name) for name in recorded - set(users))),
    ) if found]


def main():
    failed = 0
    with tempfile.TemporaryDirectory(prefix="userctl-crash-") as top:
        for scenario, files, injected, status, count in SCENARIOS:
            os.mkdir(os.path.join(top, scenario))
            try:
                added, found = states(os.path.join(top, scenario), files, injected)
            except Unmodelled as error:
                print(f"FAIL {scenario}: {error}")
                failed += 1
                continue
            old = [line.split(b":")[0] for line in files.get("users", b"").splitlines()]
            boards = [os.path.join(top, scenario, str(index)) for index in range(len(found))]
            with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
                judged = list(pool.map(unsound, boards, found, [old] * len(found)))
            for state, wrong in zip(found, judged):
                for fault in wrong:
                    print(f"FAIL {scenario}: {fault}, after a power cut that left "
                          + "; ".join(f"{name}: {content!r}" for name, content in state))
                    failed += 1
            for fault, bad in ((f"the add ended with {added}, not {status}", added != status),
                              (f"{len(found)} distinct states, not {count}", len(found) != count)):
                if bad:
                    print(f"FAIL {scenario}: {fault}")
                    failed += 1
            print(f"{scenario}: {len(found)} distinct states, {sum(map(bool, judged))} unsound")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
