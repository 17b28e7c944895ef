# Every state a power cut during an add can leave the board in, each then listed and added to. The add's calls are
# recorded (strace) and replayed on a model of the state directory in which a write persists whole or not at all, at
# its offset; a sync of a file makes its bytes and size durable, never its name; a create, rename or removal of a name
# persists only once the directory is synced; and any subset of what is not yet durable may persist, in any order.
# On each state: the old accounts all there, every account stored with both lines of its record, the record of an add
# that never landed followed by the line that says so, and the list and the next add carried out. locks/ holds no data
# and is left out. Natively alone: under qemu-user, strace sees the emulator's calls.
import concurrent.futures, os, re, subprocess, sys, tempfile

from run import command, env

BOB, ERIN = b"bob_12345:3:0:!\n", b"erin_1234:3:0:!\n"
BOB_TRACE = b"2026-12-06T12:00:00.123Z userctl[4242]: Command completed. [add user bob_12345 ******** ******** ce]\n"
BOB_EVENT, ERIN_EVENT = (b"2026-12-06T12:00:00.123Z\t1\troot\tconsole\t0xFF\tUser account %s: Add\n" % name
                         for name in (b"bob_12345", b"erin_1234"))
ALICE, CAROL = (["add", "user", name, "Secret#12", "Secret#12", "ce", "quiet"] for name in ("alice_123", "carol_123"))
OLD = dict(users=BOB, **{"trace.log": BOB_TRACE, "event.log": BOB_EVENT})

# The board before alice_123's add, the faults injected into it, then its status and how many distinct states a
# power cut can leave (every one sound).
SCENARIOS = [
    ("fresh", {}, [], 0, 16),
    ("existing", OLD, [], 0, 9),
    ("recovery", {"users": BOB, "users.new": BOB + ERIN, "event.log": BOB_EVENT + ERIN_EVENT}, [], 0, 12),
    ("undo", OLD, ["-e", "inject=fdatasync:error=EIO:when=1"], 3, 14),
]

CALL = re.compile(r"(?:\d+ +)?(\w+)\((.*)\) += (-?\d+)(?:<.*>)?")
MODELLED = "openat,write,pwrite64,ftruncate,renameat,renameat2,unlinkat,fsync,fdatasync,close"
# Calls that change files too, which the model does not know: the checker stops at one that names the state directory.
UNMODELLED = "open,creat,rename,unlink,link,linkat,symlinkat,truncate,writev,pwritev,pwritev2,syncfs,sync_file_range"


def text(escaped):
    # An argument as strace -xx shows it, quoted or within <>, as bytes.
    return bytes.fromhex(escaped.strip('"').replace("\\x", ""))


class Model:
    # The state directory as the add left it (live) and as it is durable, and what is not yet durable, in order: a
    # name set (to an inode, or None), a rename (two names at once), bytes written at an offset, a size cut.
    def __init__(self, files):
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
        else:
            _, inode, size = op
            data[inode] = data.get(inode, b"")[:size].ljust(size, b"\0")

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

    def crash(self):
        # Every state the durable one and a subset of what is pending makes.
        assert len(self.pending) <= 16, self.pending
        for subset in range(1 << len(self.pending)):
            names, data = dict(self.durable[0]), dict(self.durable[1])
            for bit, op in enumerate(self.pending):
                if subset >> bit & 1:
                    self.apply(names, data, op)
            self.states.add(tuple(sorted((name, data.get(inode, b"")) for name, inode in names.items() if inode)))

    def call(self, board, name, args, result):
        escaped = "".join(f"\\x{byte:02x}" for byte in board)  # as strace -xx shows it
        assert name not in UNMODELLED.split(",") or escaped not in args, f"the model knows no {name}({args})"
        args = args.split(", ")
        at = lambda i: args[i].partition("<")[2].rstrip(">")  # the path of a descriptor argument, escaped
        here = lambda i: text(at(i)) == board  # whether a descriptor argument is the state directory
        fd = lambda i: int(args[i].partition("<")[0])
        if name == "openat" and result >= 0 and here(0) and "O_DIRECTORY" not in args[2]:
            file = text(args[1]).decode()
            if file not in self.names or self.names[file] is None:
                if "O_CREAT" not in args[2]:
                    return
                self.do(("names", {file: max(self.data, default=0) + 1}))
                self.data[self.names[file]] = b""
            self.fds[result] = [self.names[file], "O_APPEND" in args[2], 0]
            if "O_TRUNC" in args[2]:
                self.do(("size", self.names[file], 0))
        elif name == "close" and result == 0:
            self.fds.pop(fd(0), None)
        elif name in ("write", "pwrite64") and result > 0 and fd(0) in self.fds:
            inode, append, position = self.fds[fd(0)]
            offset = len(self.data[inode]) if append else int(args[3]) if name == "pwrite64" else position
            self.do(("write", inode, offset, text(args[1])[:result]))
            self.fds[fd(0)][2] = offset + result
        elif name == "ftruncate" and result == 0 and fd(0) in self.fds:
            self.do(("size", self.fds[fd(0)][0], int(args[1])))
        elif name in ("renameat", "renameat2") and result == 0 and here(0) and here(2):
            old, new = text(args[1]).decode(), text(args[3]).decode()
            self.do(("names", {new: self.names[old], old: None}))
        elif name == "unlinkat" and result == 0 and here(0):
            self.do(("names", {text(args[1]).decode(): None}))
        elif name in ("fsync", "fdatasync") and result == 0:
            if here(0):
                self.sync("dir")
            elif fd(0) in self.fds:
                self.sync(self.fds[fd(0)][0])
        else:
            return
        self.crash()


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
    added = run(board, ALICE, "strace", "-f", "-qq", "-y", "-xx", "-s", "1000000", "-o", calls, "-e",
                "signal=none", "-e", f"trace={MODELLED},{UNMODELLED}", *faults)
    model = Model(files)
    for line in open(calls):
        if match := CALL.fullmatch(line.rstrip("\n")):
            model.call(os.fsencode(board), match[1], match[2], int(match[3]))
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
            added, found = states(os.path.join(top, scenario), files, injected)
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
