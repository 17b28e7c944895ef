"""Adds killed with SIGKILL at random moments: the store stays whole and unlocked."""
import random
import signal
import time
import unittest

from harness import EMULATED, BoardTest
from stress import add_words, debris, start_together, store_accounts, wait_all

ROUNDS, PER_ROUND, SEEDED = (10, 4, 200) if EMULATED else (30, 6, 1000)


def lock_holder(procs, deadline):
    """The one of procs holding a flock (the store's lock: the only one they take), or None."""
    pids = {proc.pid: proc for proc in procs if proc.poll() is None}
    while pids and time.monotonic() < deadline:
        with open("/proc/locks") as locks:
            for fields in map(str.split, locks):
                if fields[1] == "FLOCK" and int(fields[4]) in pids:  # waiters read "->"
                    return pids[int(fields[4])]
        time.sleep(0.001)
    return None


class CrashTest(BoardTest):
    def test_killed_adds_never_tear_or_lock_the_store(self):
        # A store of some megabytes takes a while to copy and sync: kills land mid-write too.
        self.board.configure("max_users = 65535\n")
        self.board.seed([f"seeded_{i:05d}:3:0:$y$" + "s" * 2000 for i in range(SEEDED)])
        seed = random.randrange(1 << 32)
        rng = random.Random(seed)
        began = time.monotonic()
        self.assertEqual(self.board.run(add_words("first_add")).status, 0)
        span = time.monotonic() - began
        reported = {"first_add"} | {f"seeded_{i:05d}" for i in range(SEEDED)}
        tried = set(reported)
        for round in range(ROUNDS):
            names = [f"crash_{round:03d}_{i}" for i in range(PER_ROUND)]
            tried.update(names)
            procs = start_together(self.board, [add_words(name) for name in names])
            time.sleep(rng.uniform(0, span))
            rng.choice(procs).send_signal(signal.SIGKILL)  # anywhere from start-up on
            for _ in range(PER_ROUND // 2 - 1):  # and while holding the lock: mid-write
                holder = lock_holder(procs, time.monotonic() + 2 * span)
                if holder:
                    time.sleep(rng.uniform(0, span / 4))
                    holder.send_signal(signal.SIGKILL)  # a no-op once it has been reaped
            statuses = wait_all(procs)
            where = f"round {round}, seed {seed}, statuses {statuses}"
            self.assertLessEqual(set(statuses), {0, -signal.SIGKILL}, where)
            reported.update(name for name, status in zip(names, statuses) if status == 0)
            accounts = store_accounts(self.board)
            self.assertEqual(reported - set(accounts), set(), f"lost, {where}")
            self.assertEqual(set(accounts) - tried, set(), f"never added, {where}")
            self.assertEqual({fields[1:3] for fields in accounts.values()}, {("3", "0")}, where)
        # the next commands neither wait on a lock nor trip over a dead writer's leftovers
        after = self.board.run(add_words("after_crash"))
        self.assertEqual(after.status, 0, after)
        shown = self.board.run(["show", "user_list"])
        self.assertEqual((shown.status, len(shown.out.splitlines())), (0, 1 + len(accounts) + 1))
        self.assertIn("after_crash", store_accounts(self.board))
        self.assertEqual(debris(self.board), set())
        self.board.traces(include_board=True)  # every trace line whole


if __name__ == "__main__":
    unittest.main()
