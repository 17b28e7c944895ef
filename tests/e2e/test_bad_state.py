"""A store the board cannot read: show and add fail, say where, and touch nothing."""
import os
import unittest

from harness import BoardTest
from stress import add_words, debris

GOOD = b"alice_123:1:0:!\n"
CASES = {  # what is wrong: (the store's bytes, the line the trace names)
    "truncated last line": (GOOD + b"bob_12345:3:0:$y$j9T$half", 2),
    "binary garbage": (bytes(range(255, -1, -1)) * 8, 1),
    "missing field": (GOOD + b"bob_12345:3:0\n", 2),
    "repeated name": (GOOD + b"carol_123:2:0:!\n" + GOOD, 3),
    "unknown privilege": (GOOD + b"dave_1234:6:0:!\n", 2),
}
COMMANDS = {"show": ["show", "user_list"], "add": add_words("newcomer1")}
PAST = 1_000_000_000  # an old mtime, so that any rewrite of the file shows


class BadStateTest(BoardTest):
    def snapshot(self, name):
        info = os.stat(self.board.file(name))
        return self.board.read(name) if os.path.isfile(self.board.file(name)) else None, \
            info.st_ino, info.st_mtime_ns

    def assertFailsWithTrace(self, words, prefix, files):
        before = [self.snapshot(name) for name in files]
        known = len(self.board.traces(include_board=True))
        result = self.board.run(words)
        self.assertEqual(result.status, 3, result)
        new = self.board.traces(include_board=True)[known:]
        self.assertTrue(any(t.startswith(prefix) and len(t) > len(prefix) for t in new), new)
        self.assertEqual([self.snapshot(name) for name in files], before)
        self.assertEqual(debris(self.board), set())

    def test_unparsable_store(self):
        for why, (data, line) in CASES.items():
            for command, words in COMMANDS.items():
                with self.subTest(why, command=command):
                    with open(self.board.file("users"), "wb") as f:
                        f.write(data)
                    os.utime(self.board.file("users"), ns=(PAST, PAST))
                    self.assertFailsWithTrace(words, f"board: {self.board.file('users')}:{line}: ",
                                              ["users"])

    def test_unreadable_store_and_lock(self):
        os.mkdir(self.board.file("users"))  # unreadable even for root
        for command, words in COMMANDS.items():
            with self.subTest("users is a directory", command=command):
                self.assertFailsWithTrace(words, f"board: {self.board.file('users')}: ", ["users"])
        os.rmdir(self.board.file("users"))
        os.remove(self.board.file("users.lock"))  # left by the add above
        self.board.seed(["alice_123:1:0:!"])
        os.mkdir(self.board.file("users.lock"))
        with self.subTest("users.lock is a directory"):
            self.assertFailsWithTrace(COMMANDS["add"], f"board: {self.board.file('users.lock')}: ",
                                      ["users", "users.lock"])


if __name__ == "__main__":
    unittest.main()
