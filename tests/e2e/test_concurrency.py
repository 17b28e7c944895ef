"""Adds started together on one board: none lost, the limit and the name check exact."""
import unittest
from collections import Counter

from harness import EMULATED, Board, BoardTest
from stress import add_words, debris, start_together, store_accounts, wait_all

# Under qemu-user every process carries an emulator; fewer still contend for the lock.
MANY = 30 if EMULATED else 50


class ConcurrencyTest(BoardTest):
    def test_simultaneous_adds(self):
        cases = [  # (what, board.conf, names, expected statuses)
            ("distinct names", "", [f"conc_{i:03d}" for i in range(MANY)], {0: MANY}),
            ("board fills", "max_users = 20\n", [f"full_{i:03d}" for i in range(MANY)],
             {0: 20, 46: MANY - 20}),
            ("one name", "", ["same_name"] * 10, {0: 1, 47: 9}),
        ]
        for what, conf, names, expected in cases:
            with self.subTest(what):
                board = Board()
                self.addCleanup(board.remove)
                if conf:
                    board.configure(conf)
                procs = start_together(board, [add_words(name) for name in names])
                statuses = wait_all(procs)
                self.assertEqual(Counter(statuses), Counter(expected),
                                 [p.err for p in procs if p.returncode not in expected])
                landed = {name for name, status in zip(names, statuses) if status == 0}
                self.assertEqual(set(store_accounts(board)), landed)
                shown = board.run(["show", "user_list"])
                self.assertEqual((shown.status, len(shown.out.splitlines())), (0, 1 + len(landed)))
                # one whole trace line per command: concurrent appends neither mix nor vanish
                self.assertEqual(len(board.traces(include_board=True)), len(names) + 1)
                self.assertEqual(debris(board), set())


if __name__ == "__main__":
    unittest.main()
