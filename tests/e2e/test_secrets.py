"""No run of add user, refused or not, leaves a cleartext password behind."""
import os
import unittest

from harness import MASK, BoardTest


class SecretsTest(BoardTest):
    def test_no_password_reaches_the_board_files_or_console(self):
        runs = [
            # (words after "add user", stdin, faults), each password used once
            (["erin_1234", "Quiet#Pass1", "Quiet#Pass1", "admin", "quiet"], None, None),
            (["fred_1234", "Asked#Pass2", "Asked#Pass2", "user"], "y\n", None),
            (["gina_1234", "Declined#3", "Declined#3", "user"], "n\n", None),
            (["hank_1234", "Differs#4a", "Differs#4b", "user", "quiet"], None, None),
            (["ivan_1234", "TooLong#5" * 4, "TooLong#5" * 4, "user", "quiet"], None, None),
            (["jill_1234", "Short#6", "Short#6", "user", "quiet"], None, None),
            (["kate_1234", "Blank 7pass", "Blank 7pass", "user", "quiet"], None, None),
            (["9bad_name", "BadName#8", "BadName#8", "user", "quiet"], None, None),
            (["erin_1234", "SameName#9", "SameName#9", "ce", "quiet"], None, None),
            (["lena_1234", "Thrown#10x", "Thrown#10x", "ce", "quiet"], None, "add=throw"),
            (["mike_1234", "Refused#11", "Refused#11", "ce", "quiet"], None, "add=1"),
            (["nora_1234", "NoLogin#12", "NoLogin#12", "ce"], "y\n", "login"),
            (["olaf_1234", "Fewer#13xx", "Fewer#13xx"], None, None),
            (["pete_1234", "Extra#14xx", "Extra#14xx", "ce", "quiet", "more"], None, None),
            (["quin_1234", "Privil#15x", "Privil#15x", "root", "quiet"], None, None),
            (["rita_1234", "Parts#16xx", "Parts#16xx", "partition_operator", "9", "quiet"], None, None),
        ]
        passwords = set()
        for words, answer, faults in runs:
            passwords.update(words[1:3])
            with self.subTest(words=words[:1], faults=faults):
                result = self.board.run(["add", "user", *words], input=answer, faults=faults)
                for password in words[1:3]:
                    self.assertNotIn(password, result.out + result.err)
        self.board.configure("partitions = 99\n")  # the settings fail while the words are parsed
        words = ["sara_1234", "BadConf#17", "BadConf#17", "partition_operator", "0", "quiet"]
        passwords.update(words[1:3])
        self.assertEqual(self.board.run(["add", "user", *words]).status, 3)

        self.assertEqual(len(self.board.users()), 2)  # erin and fred
        self.assertIn(f"add user erin_1234 {MASK} {MASK} admin quiet", "\n".join(self.board.traces()))
        files = sorted(os.listdir(self.board.path))
        self.assertIn("trace.log", files)
        for name in files:
            data = self.board.read(name).decode("utf-8", "surrogateescape")
            for password in sorted(passwords):
                with self.subTest(file=name, password=password):
                    self.assertNotIn(password, data)


if __name__ == "__main__":
    unittest.main()
