"""show user_list: the table printed from the board's store."""
import unittest

from harness import HEADER, BoardTest

FAILED = "Failed to execute the command.\n"
CALL_FAILED = "Platform call failed. [getInfo(REQ_CGI_GET_USER_LIST)]"


def row(name, privilege, partitions):
    return "%-32s %-18s %s\n" % (name, privilege, partitions)


class ShowTest(BoardTest):
    def test_empty_board_prints_header_alone(self):
        result = self.board.run(["show", "user_list"])
        self.assertEqual((result.status, result.out, result.err), (0, HEADER, ""))
        self.assertEqual(self.board.traces(), ["Command completed. [show user_list]"])

    def test_store_printed_in_store_order(self):
        longest = "Z" + "a1_-" * 7 + "xyz"  # 32 characters: fills the name column
        self.assertEqual(len(longest), 32)
        seeded = [
            ("zeta_user", 3, 0, "User", ""),
            (longest, 1, 0, "Admin", ""),
            ("operator1", 2, 0, "Operator", ""),
            ("ce_account", 4, 0, "CE", ""),
            ("part_op_a", 5, 0b1011, "Partition Operator", "#0,#1,#3"),
            ("part_op_b", 5, 0, "Partition Operator", ""),
            # bits past the board's 4 partitions are not partitions to show
            ("part_op_c", 5, 0xFFFFFFFF, "Partition Operator", "#0,#1,#2,#3"),
            ("alpha_usr", 1, 0, "Admin", ""),
        ]
        self.board.seed([f"{n}:{p}:{m}:!" for n, p, m, _, _ in seeded])
        before = self.board.read("users")
        result = self.board.run(["show", "user_list"])
        expected = HEADER + "".join(row(n, shown, parts) for n, _, _, shown, parts in seeded)
        self.assertEqual((result.status, result.out, result.err), (0, expected, ""))
        self.assertEqual(self.board.read("users"), before)

    def test_partitions_follow_the_board_setting(self):
        self.board.configure("# a bigger machine\npartitions = 32\n")
        self.board.seed(["wide_oper:5:2147483649:!"])  # bits 0 and 31
        result = self.board.run(["show", "user_list"])
        self.assertEqual(result.out, HEADER + row("wide_oper", "Partition Operator", "#0,#31"))
        self.assertEqual(result.status, 0)

    def test_list_faults_print_nothing_and_fail(self):
        cases = [
            ("list=fail", CALL_FAILED),
            ("list=corrupt", CALL_FAILED),
            ("list=throw", "Command failed. [show user_list] (detail=20019, action=1537)"),
        ]
        self.board.seed(["alice_123:1:0:!", "bob_12345:3:0:!"])
        for fault, traced in cases:
            with self.subTest(fault=fault):
                before = len(self.board.traces())
                result = self.board.run(["show", "user_list"], faults=fault)
                self.assertEqual((result.status, result.out, result.err), (3, "", FAILED))
                self.assertEqual(self.board.traces()[before:], [traced])

    def test_unparsable_store_fails_both_commands_and_stays_unchanged(self):
        cases = {
            "missing field": "alice_123:1:0:!\nbob_12345:3:0\n",
            "unknown privilege": "alice_123:9:0:!\n",
            "repeated name": "alice_123:1:0:!\nalice_123:3:0:!\n",
            "unterminated line": "alice_123:1:0:!",
        }
        for why, text in cases.items():
            with self.subTest(why=why):
                self.board.write("users", text)
                show = self.board.run(["show", "user_list"])
                self.assertEqual((show.status, show.out, show.err), (3, "", FAILED))
                add = self.board.run(["add", "user", "carol_123", "Secret#12", "Secret#12", "user", "quiet"])
                self.assertEqual((add.status, add.out, add.err), (3, "", "Failed to execute add user command.\n"))
                self.assertEqual(self.board.read("users"), text.encode())
                self.assertIsNone(self.board.read("event.log"))


if __name__ == "__main__":
    unittest.main()
