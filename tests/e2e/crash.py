# An add killed by SIGKILL before each of its system calls in turn, from the store's lock to its exit, and then a user
# list and another add: the old accounts all there, every account stored with both lines of its record, and the record
# of an add that never landed followed by the line that says so. Natively alone: under qemu-user, strace sees the
# emulator's calls.
import collections, os, re, shutil, subprocess, sys, tempfile

from run import command, env, read, write

OLD = "bob_12345:3:0:!\n"
ALICE, CAROL = (["add", "user", name, "Secret#12", "Secret#12", "ce", "quiet"] for name in ("alice_123", "carol_123"))
NOT_LANDED = "board: an add of alice_123 was interrupted before it was stored"


def fresh(board):
    shutil.rmtree(board, ignore_errors=True)
    os.mkdir(board, 0o700)
    write(board, "users", OLD)


def run(board, words, *tracing):
    return subprocess.run([*tracing, *command(words)], env=env(board), capture_output=True, text=True)


def calls(board):
    # The add's calls from the store's lock on, each as strace counts it: its name, and which of that name it is.
    fresh(board)
    run(board, ALICE, "strace", "-qq", "-y", "-o", board + ".calls")
    seen, found = collections.Counter(), []
    for name, args in re.findall(r"^(\w+)\((.*)$", open(board + ".calls").read(), re.M):
        seen[name] += 1
        if found or (name == "flock" and "/locks>" in args):
            found.append((name, seen[name]))
    return found


def faults(board, name, nth):
    fresh(board)
    killed = run(board, ALICE, "strace", "-qq", "-o", "/dev/null", "-e", f"inject={name}:signal=KILL:when={nth}")
    listed, added = run(board, ["show", "user_list"]), run(board, CAROL)
    users, trace, events = [line.split(":")[0] for line in read(board, "users").splitlines()], *(
        read(board, log) for log in ("trace.log", "event.log"))
    after = trace.partition("[add user alice_123 ")[2]
    return [fault for fault, found in (
        ("not killed", killed.returncode != -9),
        ("an old account lost", listed.returncode or "bob_12345" not in listed.stdout or users[:1] != ["bob_12345"]),
        ("the next add failed", added.returncode or "carol_123" not in users),
        ("an account stored without its record",
         any(f"[add user {user} " not in trace or f"User account {user}: Add" not in events for user in users[1:])),
        ("an add that never landed, not said so", after and "alice_123" not in users and NOT_LANDED not in after),
    ) if found]


def main():
    failed = 0
    with tempfile.TemporaryDirectory(prefix="userctl-crash-") as top:
        board = os.path.join(top, "board")
        points = calls(board)
        for name, nth in points:
            for fault in faults(board, name, nth):
                print(f"FAIL killed before {name} #{nth}: {fault}")
                failed += 1
    print(f"{len(points)} calls killed at, {failed} failed")
    return 1 if failed or len(points) < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
