"""The first words: which command runs, and what happens when none does."""
import unittest

from harness import INVALID, BoardTest


def unsupported(word):
    return f"The specified command is not supported.(error=[{word}])\n"


class SelectorTest(BoardTest):
    def test_no_words_is_silent_refusal(self):
        result = self.board.run([])
        self.assertEqual((result.status, result.out, result.err), (1, "", ""))
        self.assertEqual(self.board.traces(), [])

    def test_unsupported_command_names_the_word_that_failed(self):
        cases = [
            (["delete", "user"], "delete"),
            (["ADD", "user"], "ADD"),  # keywords are case-sensitive
            (["add"], ""),
            (["add", "users"], "users"),
            (["show"], ""),
            (["show", "User_list"], "User_list"),
            (["", "user"], ""),
        ]
        for words, named in cases:
            with self.subTest(words=words):
                result = self.board.run(words)
                self.assertRefusedBeforeRequest(result, unsupported(named))
                self.assertEqual(self.board.traces(), [])

    def test_show_with_extra_word_sends_no_request(self):
        self.board.seed(["alice_123:1:0:!"])
        result = self.board.run(["show", "user_list", "extra"], faults="list=throw")
        self.assertEqual((result.status, result.out, result.err), (1, "", INVALID))
        self.assertEqual(self.board.traces(include_board=True), [])


if __name__ == "__main__":
    unittest.main()
