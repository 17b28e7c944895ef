"""Runs the real userctl against the simulated board in a private state dir.

USERCTL names the binary; USERCTL_EMULATOR, when set, is the command line
(words joined by blanks) that runs it on a foreign processor.
"""
import ctypes
import os
import re
import shlex
import subprocess
import tempfile
import unittest

USERCTL = os.environ.get("USERCTL", "")
EMULATOR = shlex.split(os.environ.get("USERCTL_EMULATOR", ""))
EMULATED = bool(EMULATOR)
TIMEOUT = 120  # qemu-user is slow to start; a hang must still end the test

PROMPT = "Are you sure you want to add {} ? [Y/N]: "
INVALID = "The specified parameter is invalid.\n"
ADDED = "User addition was completed.\n"
HEADER = "user_name" + " " * 24 + "privilege" + " " * 10 + "operable_partition\n"
MASK = "********"

TRACE_LINE = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z userctl\[(\d+)\]: (.*)")
STAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")


def command(words):
    return EMULATOR + [USERCTL] + list(words)


class Result:
    def __init__(self, status, out, err):
        self.status = status
        self.out = out.decode("utf-8", "surrogateescape")
        self.err = err.decode("utf-8", "surrogateescape")

    def __repr__(self):
        return f"Result(status={self.status}, out={self.out!r}, err={self.err!r})"


class Board:
    """A fresh, empty board; remove() deletes it."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="userctl-e2e-")
        self.path = self._dir.name
        os.chmod(self.path, 0o700)

    def remove(self):
        self._dir.cleanup()

    def file(self, name):
        return os.path.join(self.path, name)

    def env(self, faults=None, extra=None):
        env = dict(os.environ)  # keeps ASAN_OPTIONS and the like
        env.pop("USERCTL_BOARD_FAULT", None)
        env["USERCTL_BOARD_DIR"] = self.path
        if faults is not None:
            env["USERCTL_BOARD_FAULT"] = faults
        env.update(extra or {})
        return env

    def run(self, words, input=None, faults=None, env=None):
        """input None: stdin is /dev/null; bytes or str: fed then closed."""
        if isinstance(input, str):
            input = input.encode()
        done = subprocess.run(
            command(words), input=input,
            stdin=subprocess.DEVNULL if input is None else None,
            capture_output=True, env=self.env(faults, env), timeout=TIMEOUT)
        return Result(done.returncode, done.stdout, done.stderr)

    def read(self, name):
        """The file's bytes, or None when it does not exist."""
        try:
            with open(self.file(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def users(self):
        """The store as a list of (name, privilege, mask, verifier)."""
        data = self.read("users") or b""
        return [tuple(line.split(":", 3)) for line in data.decode().splitlines()]

    def traces(self, include_board=False):
        """The texts of trace.log, without the board's own "board: " lines."""
        texts = []
        for line in (self.read("trace.log") or b"").decode("utf-8", "replace").splitlines():
            match = TRACE_LINE.fullmatch(line)
            assert match, f"malformed trace line {line!r}"
            if include_board or not match.group(2).startswith("board: "):
                texts.append(match.group(2))
        return texts

    def events(self):
        """event.log as lists of fields after the timestamp."""
        rows = []
        for line in (self.read("event.log") or b"").decode().splitlines():
            stamp, *fields = line.split("\t")
            assert STAMP.fullmatch(stamp), f"malformed event line {line!r}"
            rows.append(fields)
        return rows

    def write(self, name, text, mode=0o600):
        with open(self.file(name), "w") as f:
            f.write(text)
        os.chmod(self.file(name), mode)

    def configure(self, text):
        self.write("board.conf", text)

    def seed(self, lines):
        self.write("users", "".join(line + "\n" for line in lines))


class BoardTest(unittest.TestCase):
    """A fresh board per test, as self.board."""

    @classmethod
    def setUpClass(cls):
        # A missing binary must fail the run, never pass it by skipping.
        if not os.path.isfile(USERCTL):
            raise RuntimeError(f"USERCTL={USERCTL!r} does not name the userctl binary")

    def setUp(self):
        self.board = Board()
        self.addCleanup(self.board.remove)

    def assertRefusedBeforeRequest(self, result, err):
        self.assertEqual((result.status, result.out, result.err), (1, "", err))
        self.assertIsNone(self.board.read("users"))
        self.assertIsNone(self.board.read("event.log"))


_libcrypt = None


def crypt(password, verifier):
    """crypt(3) of password with verifier as its setting; None without libcrypt."""
    global _libcrypt
    if _libcrypt is None:
        try:
            _libcrypt = ctypes.CDLL("libcrypt.so.1")
            _libcrypt.crypt.restype = ctypes.c_char_p
            _libcrypt.crypt.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        except OSError:
            _libcrypt = False
    if not _libcrypt:
        return None
    hashed = _libcrypt.crypt(password.encode(), verifier.encode())
    return hashed.decode() if hashed else ""
