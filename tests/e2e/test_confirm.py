"""The question before an account is added, over a pipe and over a terminal."""
import os
import select
import subprocess
import time
import unittest

from harness import ADDED, EMULATED, PROMPT, TIMEOUT, BoardTest, command

NAME, PASSWORD = "dave_1234", "Conf1rm#Me"
WORDS = ["add", "user", NAME, PASSWORD, PASSWORD, "operator"]
QUESTION = PROMPT.format(NAME)


class ConfirmTest(BoardTest):
    def test_declined_sends_and_logs_nothing(self):
        # add=throw makes any request that is sent fail loudly
        cases = [("N", "N\n", 1), ("n", "n\n", 1), ("no, then n", "no\nn\n", 2),
                 ("end of input", "", 1), ("y without its newline", "y", 1),
                 ("end after rejected replies", "maybe\n\n", 3)]
        self.board.seed(["alice_123:1:0:!"])
        store = self.board.read("users")
        for why, answer, asked in cases:
            with self.subTest(why=why):
                result = self.board.run(WORDS, input=answer, faults="add=throw")
                self.assertEqual((result.status, result.out, result.err), (0, QUESTION * asked, ""))
                self.assertEqual(self.board.read("users"), store)
                self.assertEqual(self.board.traces(include_board=True), [])
                self.assertIsNone(self.board.read("event.log"))

    def test_question_repeats_until_exact_answer(self):
        replies = ["yes", "", " y", "YY", "Y ", "\ty", "Y"]
        result = self.board.run(WORDS, input="".join(r + "\n" for r in replies))
        self.assertEqual((result.status, result.out, result.err), (0, QUESTION * len(replies), ADDED))
        self.assertEqual([u[:3] for u in self.board.users()], [(NAME, "2", "0")])

    def test_answer_typed_at_a_terminal(self):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        tty = os.ttyname(slave)
        proc = subprocess.Popen(command(WORDS), stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                                env=self.board.env(), close_fds=True)
        os.close(slave)
        self.addCleanup(proc.stderr.close)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        screen = read_until(master, QUESTION.encode())
        self.assertEqual(screen, QUESTION.encode())

        with self.subTest(check="cmdline while the question waits"):
            if EMULATED:
                self.skipTest("the emulator's cmdline is not the program's argument vector")
            with open(f"/proc/{proc.pid}/cmdline", "rb") as f:
                shown = f.read().split(b"\0")[1:-1]
            self.assertNotIn(PASSWORD.encode(), b" ".join(shown))
            self.assertEqual(shown, [w.encode() for w in WORDS[:3]] + [b"x" * len(PASSWORD)] * 2
                             + [b"operator"])

        os.write(master, b"y\r")
        rest = read_until(master, None)
        err = proc.stderr.read()
        self.assertEqual(proc.wait(TIMEOUT), 0)
        self.assertEqual(rest, b"y\r\n")  # the echo of the answer, and nothing else
        self.assertEqual(err.decode(), ADDED)
        self.assertEqual([u[:3] for u in self.board.users()], [(NAME, "2", "0")])
        [event] = self.board.events()
        self.assertEqual(event[2], tty[len("/dev/"):])  # the terminal the answer came from


def read_until(fd, wanted):
    """What fd shows until it ends with wanted, or until it closes (wanted None)."""
    data, deadline = b"", time.monotonic() + TIMEOUT
    while wanted is None or not data.endswith(wanted):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise AssertionError(f"timed out; the terminal showed {data!r}")
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # EIO: every writer of the terminal has gone
            chunk = b""
        if not chunk:
            if wanted is None:
                return data
            raise AssertionError(f"terminal closed; it showed {data!r}")
        data += chunk
    return data


if __name__ == "__main__":
    unittest.main()
