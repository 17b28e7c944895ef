"""Helpers for the reliability tests: many userctl processes on one board."""
import os
import re
import subprocess

from harness import TIMEOUT, command

PASSWORD = "Secret#12"
# What the board keeps in its state dir; anything else is a writer's debris.
BOARD_FILES = {"users", "users.lock", "trace.log", "event.log", "board.conf"}
ACCOUNT = re.compile(r"([A-Za-z][A-Za-z0-9_-]{7,31}):([1-5]):(0|[1-9]\d*):([!-9;-~]+)")


def add_words(name, privilege="user"):
    return ["add", "user", name, PASSWORD, PASSWORD, privilege, "quiet"]


def start_together(board, word_lists):
    """One process per word list, all held at a shared gate until the last exists."""
    gate, release = os.pipe()
    try:
        return [subprocess.Popen(["sh", "-c", 'read _; exec "$@"', "sh", *command(words)],
                                 stdin=gate, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 env=board.env())
                for words in word_lists]
    finally:
        os.close(gate)
        os.close(release)  # end of file: every waiting read returns at once


def wait_all(procs):
    """Exit statuses (-9 for a SIGKILL); a process still running after TIMEOUT is a hang."""
    try:
        for proc in procs:
            proc.err = proc.communicate(timeout=TIMEOUT)[1]
    except subprocess.TimeoutExpired:
        for proc in procs:
            proc.kill()
            proc.wait()
        raise AssertionError("an add hung: the store lock was never released")
    return [proc.returncode for proc in procs]


def store_accounts(board):
    """The store as {name: (name, privilege, mask, verifier)}; fails on anything not whole."""
    data = board.read("users") or b""
    assert not data or data.endswith(b"\n"), f"store ends in a torn line: {data[-80:]!r}"
    accounts = {}
    for line in data.decode("ascii", "replace").split("\n")[:-1]:
        match = ACCOUNT.fullmatch(line)
        assert match, f"malformed store line {line!r}"
        assert match[1] not in accounts, f"name stored twice: {line!r}"
        accounts[match[1]] = match.groups()
    return accounts


def debris(board):
    return set(os.listdir(board.path)) - BOARD_FILES
