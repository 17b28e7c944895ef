"""add user with quiet: parsing, the stored account and the service's refusals."""
import unittest

from harness import ADDED, EMULATED, HEADER, INVALID, MASK, BoardTest, crypt

NAME, PASSWORD = "alice_123", "Secret#12"
ADD_FAILED = "Failed to execute add user command.\n"


def add(name=NAME, privilege="admin", *rest, password=PASSWORD, again=None):
    return ["add", "user", name, password, again or password, privilege, *rest]


class AddTest(BoardTest):
    def assertVerifies(self, password, verifier):
        if verifier == "!" and EMULATED:
            return  # the cross-built board has no libxcrypt to make a hash
        hashed = crypt(password, verifier)
        if hashed is None:
            self.skipTest("libcrypt.so.1 cannot be loaded")
        self.assertEqual(hashed, verifier)
        self.assertNotEqual(crypt(password + "x", verifier), verifier)

    def test_quiet_add_stores_account_and_logs_it(self):
        result = self.board.run(add(NAME, "admin", "quiet"))
        self.assertEqual((result.status, result.out, result.err), (0, "", ADDED))
        [(name, privilege, mask, verifier)] = self.board.users()
        self.assertEqual((name, privilege, mask), (NAME, "1", "0"))
        self.assertVerifies(PASSWORD, verifier)
        self.assertEqual(self.board.traces(),
                         [f"Command completed. [add user {NAME} {MASK} {MASK} admin quiet]"])
        [event] = self.board.events()
        self.assertEqual(len(event), 5, event)
        self.assertEqual(event[0], "1")
        self.assertTrue(event[1] and event[2], event)  # login name and origin
        self.assertEqual(event[3:], ["0xFF", f"User account {NAME}: Add"])
        shown = self.board.run(["show", "user_list"])
        self.assertEqual(shown.out, HEADER + "%-32s %-18s \n" % (NAME, "Admin"))

    def test_each_privilege_is_stored_with_its_code_and_mask(self):
        self.board.configure("partitions = 8\n")
        cases = [
            ("admin", [], "1", "0", None),
            ("operator", [], "2", "0", None),
            ("user", [], "3", "0", None),
            ("ce", [], "4", "0", None),
            ("partition_operator", ["0-1,3"], "5", "11", "#0,#1,#3"),
            ("partition_operator", ["all"], "5", "255", "#0,#1,#2,#3,#4,#5,#6,#7"),
        ]
        for number, (keyword, parts, code, mask, shown) in enumerate(cases):
            name = f"user_{number:04d}"
            with self.subTest(privilege=keyword, partitions=parts):
                result = self.board.run(add(name, keyword, *parts, "quiet"))
                self.assertEqual((result.status, result.err), (0, ADDED))
                self.assertEqual(self.board.users()[-1][:3], (name, code, mask))
                text = f"User account {name}" + (f" (Partition{shown})" if shown else "") + ": Add"
                self.assertEqual(self.board.events()[-1][4], text)

    def test_partition_numbers_are_written_with_digits_0_to_3(self):
        self.board.configure("partitions = 32\n")
        cases = [("31", 1 << 31), ("0-13", 0x3FFF), ("12,30", (1 << 12) | (1 << 30)), ("4", None), ("3-9", None)]
        for number, (spec, mask) in enumerate(cases):
            with self.subTest(partitions=spec):
                result = self.board.run(add(f"part_op_{number}", "partition_operator", spec, "quiet"))
                if mask is None:
                    self.assertEqual((result.status, result.err), (1, INVALID))
                else:
                    self.assertEqual((result.status, result.err), (0, ADDED))
                    self.assertEqual(self.board.users()[-1][2], str(mask))

    def test_boundary_names_and_passwords_are_accepted(self):
        punctuation = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"
        cases = [
            ("a" * 8, "p" * 8),
            ("Z" + "9_-" * 10 + "z", punctuation),  # 32 and 32
            ("b_______", "A0" + punctuation[:30]),
        ]
        for name, password in cases:
            with self.subTest(name=name, password=password):
                result = self.board.run(add(name, "user", "quiet", password=password))
                self.assertEqual((result.status, result.out, result.err), (0, "", ADDED))
                stored = self.board.users()[-1]
                self.assertEqual(stored[0], name)
                self.assertVerifies(password, stored[3])

    def test_refused_parameters_store_nothing(self):
        cases = [
            ("fewer than 4 words", ["add", "user", NAME, PASSWORD, PASSWORD]),
            ("name of 7", add("abcdefg")),
            ("name of 33", add("a" * 33)),
            ("name starting with a digit", add("1alice_23")),
            ("name starting with _", add("_alice123")),
            ("name with a dot", add("alice.123")),
            ("name with a newline", add("alice_12\nforged line")),  # still one trace line
            ("password of 7", add(password="Secr#12")),
            ("password of 33", add(password="S" * 33)),
            ("password with a blank", add(password="Secret 12")),
            ("password beyond ASCII", add(password="S\u00e9cret#12")),
            ("passwords differ", add(again="Secret#13")),
            ("unknown privilege", add(NAME, "root")),
            ("privilege in capitals", add(NAME, "Admin")),
            ("privilege of 5000 bytes", add(NAME, "x" * 5000)),
            ("partition operator without partitions", add(NAME, "partition_operator")),
            ("partition outside the board", add(NAME, "partition_operator", "4")),
            ("reversed range", add(NAME, "partition_operator", "2-1")),
            ("empty item", add(NAME, "partition_operator", "0,,1")),
            ("open range", add(NAME, "partition_operator", "1-")),
            ("quiet twice", add(NAME, "admin", "quiet", "quiet")),
        ]
        for why, words in cases:
            with self.subTest(why=why):
                before = len(self.board.traces())
                result = self.board.run(words, input="y\n")
                self.assertRefusedBeforeRequest(result, INVALID)
                self.assertEqual(len(self.board.traces()) - before, 1, self.board.traces()[before:])

    def test_a_word_in_the_place_of_quiet_is_refused_untraced(self):
        for words in (add(NAME, "admin", "loud"), add(NAME, "admin", "0", "quiet")):
            with self.subTest(words=words):
                before = len(self.board.traces())
                self.assertRefusedBeforeRequest(self.board.run(words, input="y\n"), INVALID)
                self.assertEqual(self.board.traces()[before:], [])

    def test_service_refusals(self):
        self.board.configure("max_users = 2\n")
        self.assertEqual(self.board.run(add(NAME, "admin", "quiet")).status, 0)
        cases = [
            ("same name", add(NAME, "user", "quiet"), None, 47,
             "Same name already exists. User addition failed.\n", "(detail=0, action=0)"),
            ("add=5", add("bob_12345", "user", "quiet"), "add=5", 3, ADD_FAILED, "(detail=0, action=0)"),
            ("add=throw", add("bob_12345", "user", "quiet"), "add=throw", 3, ADD_FAILED,
             "(detail=20019, action=1537)"),
            ("unknown fault", add("bob_12345", "user", "quiet"), "nonsense", 3, ADD_FAILED,
             "(detail=20019, action=1537)"),
        ]
        for why, words, faults, status, err, tail in cases:
            with self.subTest(why=why):
                before_store, before_trace = self.board.read("users"), len(self.board.traces())
                result = self.board.run(words, faults=faults)
                self.assertEqual((result.status, result.out, result.err), (status, "", err))
                logged = " ".join(words[:3] + [MASK, MASK] + words[5:])
                self.assertEqual(self.board.traces()[before_trace:], [f"Command failed. [{logged}] {tail}"])
                self.assertEqual(self.board.read("users"), before_store)
                self.assertEqual(len(self.board.events()), 1)

        self.assertEqual(self.board.run(add("bob_12345", "user", "quiet")).status, 0)
        full = self.board.run(add("carol_123", "user", "quiet"))
        self.assertEqual((full.status, full.out, full.err), (46, "", "No more User addition.\n"))
        self.assertEqual([u[0] for u in self.board.users()], [NAME, "bob_12345"])

    def test_login_lookup_failure_stops_before_the_question(self):
        result = self.board.run(add(NAME, "admin"), input="y\n", faults="login")
        self.assertEqual((result.status, result.out, result.err), (3, "", ADD_FAILED))
        self.assertEqual(self.board.traces(), [
            f"Command failed. [add user {NAME} {MASK} {MASK} admin (UtmpUtil::getUserInfo()) failed.)]"
            " (detail=0, action=0)"])
        self.assertIsNone(self.board.read("users"))
        self.assertIsNone(self.board.read("event.log"))

    def test_malformed_board_settings_fail_the_command(self):
        self.board.configure("partitions = 99\n")
        result = self.board.run(add(NAME, "partition_operator", "0", "quiet"))
        self.assertEqual((result.status, result.out, result.err), (3, "", "Failed to execute add command.\n"))
        self.assertEqual(self.board.traces(), ["Failed to execute add command."])
        self.assertIsNone(self.board.read("users"))


if __name__ == "__main__":
    unittest.main()
