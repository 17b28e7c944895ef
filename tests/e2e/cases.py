# The end-to-end cases: a row is one run of userctl on a fresh simulated board.
#
# c(name, words, column=value, ...). What the board starts with: conf (board.conf), users (the
# store, or a function making it), faults (USERCTL_BOARD_FAULT), stdin (the reply typed; with
# tty, at a terminal once the question shows, "nonblocking" for one left O_NONBLOCK; a signal
# number is sent there instead), tty (the controlling terminal, on descriptors 0 and 1; "not
# controlling": there alone), utmp (the utmp entries the terminal's run sees, as utmpdump
# writes them; @TTY@ the terminal),
# sh (a script calling userctl, in place of the words), setup (a function given the state
# directory), uid (the user running userctl, who then owns the state directory); userctl runs in
# the state directory. What must follow:
# status, out, err, trace (every trace.log text, the board's own included; @DIR@ stands for the
# state directory, in err too), events (event.log fields after the stamp) and store (every
# account as name:privilege:mask; None: the file untouched). A column left out expects nothing.

import os
import pwd
import shlex
from signal import SIGQUIT
from types import SimpleNamespace

DEFAULTS = dict(conf=None, users=None, faults=None, stdin=None, sh=None, tty=False, utmp=None, setup=None, uid=None,
                status=0, out="", err="", trace=[], events=[], store=None)


def c(name, words, **columns):
    assert set(columns) <= set(DEFAULTS), columns
    words = shlex.split(words) if isinstance(words, str) else words
    return SimpleNamespace(name=name, words=words, **{**DEFAULTS, **columns})


N, P = "alice_123", "Secret#12"
N32, P32 = "Z" + "9_-" * 10 + "z", "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"
SHOW = ["show", "user_list"]
LOGIN = pwd.getpwuid(os.geteuid()).pw_name
PROMPT = "Are you sure you want to add {} ? [Y/N]: "
Q = PROMPT.format(N)
INVALID = "The specified parameter is invalid.\n"
ADDED = "User addition was completed.\n"
ADD_FAILED = "Failed to execute add user command.\n"
FAILED = "Failed to execute the command.\n"
HEADER = "user_name" + " " * 24 + "privilege" + " " * 10 + "operable_partition\n"
SHOWN = "Command completed. [show user_list]"
LIST_FAILED = "Platform call failed. [getInfo(REQ_CGI_GET_USER_LIST)]"
SHOW_THROWN = "Command failed. [show user_list] (detail=20019, action=1537)"
TWO = f"{N}:1:0:!\nbob_12345:3:0:!\n"


def add(*rest, name=N, pw=P, again=None):
    return ["add", "user", name, pw, again or pw, *rest]


def masked(words):
    return " ".join("********" if i in (3, 4) else word for i, word in enumerate(words))


def done(words):
    return f"Command completed. [{masked(words)}]"


def failed(words, detail=0, action=0):
    return f"Command failed. [{masked(words)}] (detail={detail}, action={action})"


def event(account, origin="console", login=LOGIN):
    return f"1\t{login}\t{origin}\t0xFF\tUser account {account}: Add"


def table(*rows):
    return HEADER + "".join("%-32s %-18s %s\n" % row for row in rows)


def ok(name, words, code, partitions="", **columns):
    # A quiet add that stores the account: code is the privilege, partitions as shown.
    mask = sum(1 << int(p) for p in partitions.replace("#", "").split(",") if p)
    account = words[2] + (f" (Partition{partitions})" if code == 5 else "")
    columns = {"err": ADDED, "trace": [done(words)], "events": [event(account)], **columns}
    return c(name, words, **{"store": [f"{words[2]}:{code}:{mask}"], **columns})


def refused(words, *trace, **columns):
    return c(f"refused: {words}", words, status=1, err=INVALID, trace=list(trace), **columns)


def fails(name, words, *trace, **columns):
    # A command that the board fails: status 3 and the command's failure message.
    failure = ADD_FAILED if words[0] == "add" else FAILED
    return c(name, words, trace=list(trace), **{"status": 3, "err": failure, **columns})


def partitions(spec, shown, count=4):
    words, why = add("partition_operator", spec, "quiet"), f"The specified partition number is invalid. [{spec[:128]}]"
    if shown is None:
        return refused(words, CLI + why, conf=f"partitions = {count}\n")
    return ok(f"partitions {spec!r} of {count}", words, 5, shown, conf=f"partitions = {count}\n")


def together(name, count, conf, statuses, stored):
    # count adds started at once ($i in the name: 10, 11, ...): how many ended with each status,
    # the store's whole lines and distinct names, one trace line each; then the files are cleared.
    script = (f"for i in $(seq 10 {count + 9}); do (userctl add user {name} Secret#12 Secret#12 user quiet 2>/dev/null; echo $?) & done"
              " | sort | uniq -c; cd $USERCTL_BOARD_DIR; grep -cE '^[a-z_]+[0-9]*:3:0:[!-9;-~]+$' users;"
              " cut -d: -f1 users | sort -u | wc -l; wc -l <trace.log; rm users* *.log")
    return c(f"{count} adds of {name} at once, {conf!r}", [], sh=script, conf=conf, out="".join(f"{n:7} {s}\n" for s, n in statuses)
             + f"{stored}\n{stored}\n{count}\n")


def mkdir(name):
    return lambda board: os.mkdir(os.path.join(board, name))


def big():
    # A store 10 bytes short of 32 MiB, the most the board reads back.
    return "".join(f"big_{i:05d}:3:0:{'v' * (524273 - 10 * (i == 63))}\n" for i in range(64))


def untrusted(how, why, undo, at=""):
    # The state directory (or what at names below it) made untrustworthy by how, then undone: refused, its reason on
    # the console.
    script = f"{how}; USERCTL_BOARD_DIR=$PWD{at} userctl show user_list; s=$?; {undo}; exit $s"
    return fails(f"state directory {why}", SHOW, sh=script, err=REFUSED.format(f"@DIR@{at}".rstrip("/"), why) + FAILED)


def used(at, how=":", undo=":"):
    # The state directory named $PWD{at}: used.
    script = f"{how}; USERCTL_BOARD_DIR=$PWD{at} userctl show user_list; {undo}"
    return c(f"state directory named $PWD{at}", SHOW, sh=script, out=HEADER, trace=[SHOWN])


def victim(plant):
    # CE, with plant's links into a victim's directory ($v: rc, a file of theirs; new, one they have not); then the
    # directory and rc as they are after it. The links, and the owner and mode an attacker gave, are undone.
    return f"v=$(mktemp -d); echo '# rc' >$v/rc; {plant}; {RUN_CE}; s=$?; ls $v; cat $v/rc; rm -r $v; {UNDO}; exit $s"


CLI, ADD = "CLI UserCommandCommon: ", "CLI add user: "
CONF, STORE = "board: @DIR@/board.conf", "board: @DIR@/users"
TOKEN = 'board: USERCTL_BOARD_FAULT: unknown or repeated token "{}"'
BATCH = "; ".join(f"userctl add user batchuser{i} Pa55w0rd! Pa55w0rd! admin; echo $?" for i in (1, 2, 3))
BATCH_WORDS = [add("admin", name=f"batchuser{i}", pw="Pa55w0rd!") for i in (1, 2, 3)]
MANY = "".join(f"user_{i:05d}:3:0:!\n" for i in range(65535))
CAROL, CE = add("user", "quiet", name="carol_123"), add("ce", "quiet")
RUN_CE = "userctl " + " ".join(CE)
DEAD = "mkfifo p; exec 4<>p 5>p 4<&-; rm p; "  # descriptor 5: a pipe whose reader has gone
# trace.log of lines of 51 bytes, each with the text "x" * 13, before the command.
# A sparse trace.log past 2 GiB: only its last bytes read, then emptied for the runner.
BIG_LOG = (f"umask 077; truncate -s 2200M trace.log; {RUN_CE}; tail -c 200 trace.log | tr -d '\\0' | cut -d' ' -f3-;"
           " : >trace.log")
LIMITED = "ulimit -f 10; " + RUN_CE  # files of at most 5120 bytes
FILL = "umask 077; yes '2026-12-06T00:00:00.000Z userctl[1]: xxxxxxxxxxxxx' | head -n {} >trace.log; " + LIMITED
IRREGULAR, UNTOUCHED = ": cannot read: not a regular file", "rc\n# rc\n"
TYPED = dict(stdin="y\r", out=Q + "y\r\n", events=[event(N, "@TTY@")])  # Y and Enter at a terminal
ATTACK = "chown 65534 .; chmod 777 .; ln -s $v/rc trace.log; ln -s $v/new users.lock"
REFUSED, UNDO = "board: {}: not used as the state directory: {}\n", "find . -type l -delete; chown 0:0 .; chmod 700 ."
ATTACKED = REFUSED.format("@DIR@", "owned by uid 65534, not by uid 0 that runs the command; chown it to uid 0, or set"
                          " USERCTL_BOARD_DIR to a directory of your own") + ADD_FAILED
OTHERS = "@DIR@/{}, on its path, belongs to uid 65534; set USERCTL_BOARD_DIR to a path not through it"
RELATIVE = REFUSED.format(".", "a relative path; give USERCTL_BOARD_DIR as an absolute path")
NOBODY = 7654321  # a uid without a name
NOWHERE = "unset USERCTL_BOARD_DIR XDG_STATE_HOME HOME; userctl show user_list"  # as a user with no home either
RELATIVE_HOME = "unset USERCTL_BOARD_DIR XDG_STATE_HOME; HOME=. userctl show user_list"
NO_DIR = ("board: no state directory: USERCTL_BOARD_DIR is unset, XDG_STATE_HOME and HOME are unset or relative,"
          f" and uid {NOBODY} has no home directory; set USERCTL_BOARD_DIR to an absolute path\n")
OPEN_MODES = [("720", "writable"), ("702", "writable"), ("740", "readable"), ("704", "readable")]  # 711 is fine
UMASK = f"umask 277; USERCTL_BOARD_DIR=$PWD/new {RUN_CE}; cd new; stat -c '%a %n' . *; cd ..; rm -r new"
TOO_BIG = STORE + ": one more account would pass the 33554432 bytes a store may hold"
TMP_DIR, TOO_LARGE = STORE + ".tmp: cannot write: Is a directory", STORE + ".tmp: cannot write: File too large"
SEVEN_KB = "".join(f"user_{i:05d}:3:0:$y${'v' * 100}\n" for i in range(60))  # more than 5120 bytes, within max_users
NO_LOGIN = ["board: login lookup failed (injected fault)", "Command failed. [{} (UtmpUtil::getUserInfo()) failed.)] (detail=0, action=0)"]
# The add started while the test holds users.lock, sent SIGTERM once it waits there, then the lock released.
HELD = ('umask 077; exec 3>>users.lock; flock 3; $LAUNCH "$USERCTL_BIN" ' + " ".join(CE) + ' 3>&- & until grep -q'
        ' -- "-> FLOCK *ADVISORY *WRITE $! " /proc/locks; do sleep 0.01; done; kill -TERM $!; exec 3>&-;'
        ' wait $! 2>/dev/null; echo $?')
# The question asked where it cannot be written ({}), the reply "y": declined, the reply left unread.
UNWRITABLE = ("printf 'y\\nleft\\n' | {{ timeout 20 $LAUNCH \"$USERCTL_BIN\" add user alice_123 Secret#12 Secret#12 ce"
              " {}; echo $?; cat; }}")
# The question to a full pipe left non-blocking, which is read from a second later.
FULL_PIPE = ("{ python3 -c 'import os; os.set_blocking(1, False); os.write(1, b\"x\" * 65536)';"
             " printf 'y\\n' | userctl " + " ".join(add("operator")) + "; } | { sleep 1; tr -d x; }")
LOGGED_IN = "[7] [00001] [ts/0] [{}] [{}] [{}] [] [2026-12-06T12:00:00,000000+00:00]\n"  # user, terminal, host
ANN = [LOGGED_IN.format("eve", "pts/999", "10.9.9.9"), LOGGED_IN.format("ann", "@TTY@", "10.1.2.3")]  # eve elsewhere
# With every descriptor elsewhere, run as a command whose name would read as fields of its own in /proc/self/stat.
HIDDEN = ('c=") R 1 1 1 1"; ln -s "$USERCTL_BIN" "$c"; USERCTL_BIN=$PWD/$c; '
          f'{RUN_CE} </dev/null >/dev/null 2>&1; s=$?; rm "$c"; exit $s')
NAMELESS = [f"board: login lookup failed: no login name for uid {NOBODY}", NO_LOGIN[1].format(masked(CE))]

LISTED = [("zeta_user", 3, 0, "User", ""), (N32, 1, 0, "Admin", ""), ("operator1", 2, 0, "Operator", ""), ("ce_account", 4, 0, "CE", ""),
          ("part_op_a", 5, 11, "Partition Operator", "#0,#1,#3"), ("part_op_b", 5, 0, "Partition Operator", ""),
          ("part_op_c", 5, 4294967295, "Partition Operator", "#0,#1,#2,#3"), ("admin_cab", 1, 3, "Admin", "#0,#1")]

CASES = {
    "select": [
        c("no words", [], status=1),
        *[c(f"not supported: {w!r}", w, status=1, err=f"The specified command is not supported.(error=[{named}])\n")
          for w, named in [("delete user", "delete"), ("ADD user", "ADD"), ("Show user_list", "Show"), ("add", ""), ("add users", "users"),
                           ("add user_list", "user_list"), ("show", ""), ("show user", "user"), ("show User_list", "User_list"), ("'' user", "")]],
        refused("show user_list extra", faults="list=throw"),  # and sends nothing
    ],
    "add": [
        *[ok(privilege, add(privilege, "quiet"), code) for privilege, code in [("admin", 1), ("operator", 2), ("user", 3), ("ce", 4)]],
        ok("8 characters each", add("user", "quiet", name="a" * 8, pw="p" * 8), 3),
        ok("eight symbols", add("user", "quiet", name="b_______", pw="!" * 8), 3),
        ok("32 characters each, partitions 1,0", add("partition_operator", "1,0", "quiet", name=N32, pw=P32), 5, "#0,#1"),
        *[partitions(spec, shown, count) for spec, shown, count in [
            ("all", "#0,#1,#2,#3,#4,#5,#6,#7", 8), ("all", "#0", 1), ("0", "#0", 1), ("0-1,3", "#0,#1,#3", 8), ("3,1,1,0", "#0,#1,#3", 4),
            ("0-3", "#0,#1,#2,#3", 4), ("2-2", "#2", 4), ("0-2,1", "#0,#1,#2", 4), ("01", "#1", 4), ("10", "#10", 16), ("31", "#31", 32),
            ("0-13", ",".join(f"#{n}" for n in range(14)), 32), ("12,30", "#12,#30", 32), ("4", None, 8), ("3-9", None, 32), ("1", None, 1)]],
        *[partitions(spec, None) for spec in ["ALL", "All", "all,1", "2-1", "0-1-2", ",1", "-1", "1,", "1-", "1,,2", "1--2", "1,-2",
                                              "1-,2", "0-,2", "0--0", "", "1, 2", "10", "quiet", "4", "0," * 100]],
        refused("add user", ADD + "This command need parameters at least 4 ."),
        refused(add()[:5], ADD + "This command need parameters at least 4 ."),
        refused("add user a b c d", CLI + "Username is too short. [a] "),
        *[refused(add("admin", name=n), CLI + f"Username is too short. [{n}] ") for n in ["abcdefg", "1abcde"]],
        *[refused(add("admin", name=n), CLI + f"Username is too long. [{n[:128]}] ") for n in ["a" * 33, "b" * 200]],
        *[refused(add("admin", name=n), CLI + f"Invalid character is included in UserName. [{n}] (top word is bad format).")
          for n in ["1alice_23", "_alice123", "-alice123"]],
        *[refused(add("admin", name=n), CLI + f"Invalid character is included in UserName. [{shown}] ")
          for n, shown in [("alice.123", "alice.123"), ("alice_12\nforged", "alice_12\\nforged"), ("alice\\123", "alice\\\\123"),
                           ("alice\x01123", "alice\\x01123"),
                           ("alice_\u00e9123", "alice_\u00e9123")]],
        *[refused(add("admin", pw=pw, again=again), CLI + why) for pw, again, why in [
            ("Secr#12", None, "Password is too short."), ("S" * 33, None, "Password is too long."),
            ("Secret 12", None, "Invalid character is included in Password."),
            ("S\u00e9cret#12", None, "Invalid character is included in Password."),
            ("Secret\x7f12", None, "Invalid character is included in Password."), (P, "Secr#12", "Password is too short."),
            (P, "Secret 12", "Invalid character is included in Password.")]],
        *[refused(add("admin", again=again), ADD + "The specified password is invalid.") for again in ["Secret#13", "secret#12"]],
        *[refused(add(p), CLI + f"privilege [{p[:128]}] is not supported.") for p in ["root", "Admin", "x" * 5000]],
        refused(add("partition_operator"), ADD + "This command need [partition] parameter at Partition Operator."),
        refused(add("admin", "quiet", "quiet"), ADD + "Needless parameters are specified."),
        refused(add("partition_operator", "all", "quiet", "x"), ADD + "Needless parameters are specified."),
        *[refused(add("admin", *rest)) for rest in [["loud"], ["Quiet"], ["0-1"], ["0", "quiet"]]],
    ],
    "ask": [
        *[c(f"declined: {reply!r}", add("operator"), stdin=reply, out=Q * asked, faults="add=throw")
          for reply, asked in [("N\n", 1), ("n\n", 1), ("no\nn\n", 2), ("", 1), ("y", 1), ("maybe\n\n", 3), ("y\r\n", 2)]],
        ok("answered at a terminal", add("operator"), 2, tty=True, **TYPED),
        ok("asked until one letter", add("operator"), 2, stdin="yes\n\n y\nYY\nY \n\ty\nY\n", out=Q * 7),
        c("one pipe answers three adds", [], sh=BATCH, stdin="y\nn\ny\n", err=ADDED * 2,
          out="".join(PROMPT.format(f"batchuser{i}") + "0\n" for i in (1, 2, 3)), trace=[done(BATCH_WORDS[0]), done(BATCH_WORDS[2])],
          events=[event("batchuser1"), event("batchuser3")], store=["batchuser1:1:0", "batchuser3:1:0"]),
        fails("login lookup fails", add("admin"), NO_LOGIN[0], NO_LOGIN[1].format(masked(add("admin"))), faults="login", stdin="y\n"),
    ],
    "service": [
        c("same name", CE, users=TWO, status=47, err="Same name already exists. User addition failed.\n", trace=[failed(CE)]),
        c("board full", CAROL, conf="max_users = 2\n", users=TWO, status=46, err="No more User addition.\n", trace=[failed(CAROL)]),
        ok("room for one more", CAROL, 3, conf="max_users = 3\n", users=TWO, store=[f"{N}:1:0", "bob_12345:3:0", "carol_123:3:0"]),
        fails("refused with 5", CE, "board: add-user request refused with 5 (injected fault)", failed(CE), faults="add=5"),
        fails("request throws", CE, failed(CE, 20019, 1537), faults="add=throw"),
        fails("unknown fault", CE, TOKEN.format("nonsense"), failed(CE, 20019, 1537), faults="nonsense"),
        fails("faults trimmed and combined", add("ce"), NO_LOGIN[0], NO_LOGIN[1].format(masked(add("ce"))), faults=" add=5 , login ",
              stdin="y\n"),
        c("settings fail while the words are read", add("partition_operator", "0", "quiet"), conf="partitions = 99\n", status=3,
          err="Failed to execute add command.\n", trace=[CONF + ":1: partitions must be a number from 1 to 32", "Failed to execute add command."]),
    ],
    "together": [
        together("conc_user$i", 20, "", [(0, 20)], 20),
        together("full_user$i", 20, "max_users = 8\n", [(0, 8), (46, 12)], 8),
        together("same_name", 8, "", [(0, 1), (47, 7)], 1),
    ],
    "show": [
        c("empty board", SHOW, out=HEADER, trace=[SHOWN]),
        c("store order", SHOW, trace=[SHOWN], users="".join(f"{n}:{p}:{m}:!\n" for n, p, m, _, _ in LISTED),
          out=table(*[(n, shown, partitions) for n, _, _, shown, partitions in LISTED])),
        c("a name filling its 36 bytes", SHOW, users="n" * 36 + ":1:0:!\n", out=table(("n" * 36, "Admin", "")), trace=[SHOWN]),
        c("32 partitions", SHOW, conf="# a bigger machine\n partitions=32 # all\n\n\tmax_users = 65535\r\n",
          users="wide_oper:5:2147483649:!\n", out=table(("wide_oper", "Partition Operator", "#0,#31")), trace=[SHOWN]),
        c("65535 accounts", SHOW, users=MANY, out=table(*[(f"user_{i:05d}", "User", "") for i in range(65535)]), trace=[SHOWN]),
        fails("65536 accounts", SHOW, STORE + ": 65536 accounts are more than a list can carry", LIST_FAILED,
              users=MANY + "user_65535:3:0:!\n"),
        fails("list refused", SHOW, "board: user list refused (injected fault)", LIST_FAILED, users=TWO, faults="list=fail"),
        fails("list corrupt", SHOW, "board: user list reply refused by its receiver", LIST_FAILED, users=TWO, faults="list=corrupt"),
        fails("list throws", SHOW, SHOW_THROWN, users=TWO, faults="list=throw"),
        fails("table to a full disk", SHOW, "Command failed. [show user_list] (detail=0, action=0)", users=TWO,
              sh="userctl show user_list >/dev/full"),
    ],
    "board": [
        *[fails(f"board.conf {conf!r}", SHOW, CONF + why, SHOW_THROWN, conf=conf) for conf, why in [
            ("partitions 8\n", ':1: expected "key = value"'), ("partitions = 8\npartitions = 8\n", ":2: partitions given twice"),
            *[(f"partitions = {n}\n", ":1: partitions must be a number from 1 to 32") for n in ["0", "33", "-1", "", "4x"]],
            ("max_users = 5\n# x\nmax_users = 5\n", ":3: max_users given twice"), ("colour = red\n", ":1: unknown setting"),
            *[(f"max_users={n}\n", ":1: max_users must be a number from 1 to 65535") for n in ["0", "65536", "99999999999"]]]],
        fails("board.conf a directory", SHOW, CONF + ": cannot read: Is a directory", SHOW_THROWN, setup=mkdir("board.conf")),
        *[fails(f"faults {faults!r}", SHOW, TOKEN.format(token), SHOW_THROWN, faults=faults) for faults, token in [
            ("login,login", "login"),
            ("add=5,add=6", "add=6"), ("list=fail,list=throw", "list=throw"), ("list=bogus", "list=bogus"), ("add=", "add="),
            ("add=-1", "add=-1"), ("login,,", ""), ("add=2147483648", "add=2147483648")]],
        *[fails(f"{words[0]} on store {users!r}", words, STORE + why, LIST_FAILED if words == SHOW else failed(words), users=users)
          for words, users, why in [
              (SHOW, f"{N}:1:0:!\nbob_12345:3:0:$y$j9T$half", ":2: truncated line"),
              (CAROL, f"{N}:1:0:!\nbob_12345:3:0:$y$j9T$half", ":2: truncated line"),
              (SHOW, bytes(range(255, -1, -1)) * 8, ":1: missing field"), (SHOW, f"{N}:1:0:!\nbob_12345:3:0\n", ":2: missing field"),
              (SHOW, f"{N}:1:0:!:x\n", ":1: too many fields"), (SHOW, ":1:0:!\n", ":1: empty name"),
              (SHOW, "n" * 37 + ":1:0:!\n", ":1: name too long"), (SHOW, "al ice_12:1:0:!\n", ":1: name with a byte outside printable ASCII"),
              (SHOW, f"{N}:x:0:!\n", ":1: privilege is not a decimal number"), (SHOW, f"{N}:0:0:!\n", ":1: unknown privilege"),
              (SHOW, f"{N}:6:0:!\n", ":1: unknown privilege"),
              (SHOW, f"{N}:5:4294967296:!\n", ":1: partition mask is not a 32-bit decimal number"),
              (SHOW, f"{N}:1:0:\n", ":1: bad verifier"), (SHOW, f"{N}:1:0:a b\n", ":1: bad verifier"),
              (SHOW, f"{N}:1:0:!\0\n", ":1: NUL byte"), (SHOW, f"{TWO}carol_123:2:0:!\n{N}:1:0:!\n", ":4: repeated name"),
              (CAROL, f"{TWO}{N}:1:0:!\n", ":3: repeated name")]],
        fails("show on users, a directory", SHOW, STORE + ": cannot read: Is a directory", LIST_FAILED, setup=mkdir("users")),
        fails("add on users, a directory", CE, STORE + ": cannot read: Is a directory", failed(CE), setup=mkdir("users")),
        c("state directory from XDG_STATE_HOME, else HOME", [], out=HEADER * 2 + "700 x/userctl/board\n700 h/.local/state/userctl/board\n2\nuserctl\n",
          sh="d=$USERCTL_BOARD_DIR; unset USERCTL_BOARD_DIR; XDG_STATE_HOME=$d/x userctl show user_list; XDG_STATE_HOME=x HOME=$d/h userctl"
             " show user_list; cd $d; set x/userctl/board h/.local/state/userctl/board; stat -c '%a %n' $@; cat $1/trace.log $2/trace.log"
             " | wc -l; ls x; rm -r x h"),
        ok("stdin closed", CE, 4, sh=f"userctl {' '.join(CE)} <&-"),
        fails("users, a link to itself", SHOW, STORE + ": cannot read: Too many levels of symbolic links", LIST_FAILED,
              setup=lambda board: os.symlink("users", board + "/users")),
        fails("board.conf past 64 KiB", SHOW, CONF + ": cannot read: File too large", SHOW_THROWN, conf="#" * 65537),
        fails("users.lock a directory", CE, STORE + ".lock: cannot lock: Is a directory", failed(CE), users=TWO, setup=mkdir("users.lock")),
    ],
    "hostile": [
        # A console or log that cannot be written fails that write alone; a log line is whole or absent.
        ok("an add through a dead pipe", CE, 4, sh=DEAD + RUN_CE + " 2>&5", err=""),
        fails("a table into a dead pipe", SHOW, failed(SHOW), users=TWO, sh=DEAD + "userctl show user_list >&5"),
        ok("trace.log past 2 GiB", CE, 4, sh=BIG_LOG, out=done(CE) + "\n", trace=[]),
        ok("trace.log 20 bytes short of the limit", CE, 4, sh=FILL.format(100), trace=["x" * 13] * 100),
        # Not dumpable: no core file, no memory readable by its own user. A non-blocking input waited on.
        c("SIGQUIT at the question", add("operator"), tty=True, uid=65534, stdin=SIGQUIT, status=-SIGQUIT, out=Q),
        ok("at a non-blocking terminal", add("operator"), 2, tty="nonblocking", **TYPED),
        # Only a state directory of the user's own that no one else can write, reached through directories and links
        # of root's or the user's; only regular files in it, and no link followed there.
        *[untrusted(f"chmod {m} .", f"{how} by group or others; chmod 700 it", "chmod 700 .") for m, how in OPEN_MODES],
        *[used(at) for at in ["//", "/", "/.", "/../${PWD##*/}"]],
        used("/link", "ln -s . link", "rm link"),
        untrusted("ln -s . link; chown -h 65534 link", OTHERS.format("link"), "rm link", "/link/"),
        untrusted("mkdir o; chown 65534 o", OTHERS.format("o"), "rm -r o", "/o/d"),
        untrusted("mkdir o; chown 65534 o", OTHERS.format("o"), "rm -r o", "/o/.."),
        # A root link through another user's directory: they could swap what it leads to for a link to /etc.
        untrusted("mkdir -p o/d; chown 65534 o; ln -s o/d link", OTHERS.format("o"), "rm -r o link", "/link/d"),
        # Another user's link in a sticky directory, dangling: as if made there between a look and a mkdir.
        untrusted("mkdir -m 1777 s; ln -s $PWD/x s/d; chown -h 65534 s/d", OTHERS.format("s/d"), "rm -r s", "/s/d/d"),
        fails("USERCTL_BOARD_DIR=.", SHOW, sh="USERCTL_BOARD_DIR=. userctl show user_list", err=RELATIVE + FAILED),
        # The login is the controlling terminal's, whatever descriptors 0-2 are: not one a process only holds open.
        ok("ann, 0-2 redirected", CE, 4, tty=True, utmp=ANN, sh=HIDDEN, err="", events=[event(N, "10.1.2.3", "ann")]),
        ok("a terminal not controlling", add("operator"), 2, tty="not controlling", **{**TYPED, "events": [event(N)]}),
        fails("no state directory", SHOW, sh=NOWHERE, err=NO_DIR + FAILED, uid=NOBODY),
        fails("a relative HOME", SHOW, sh=RELATIVE_HOME, err=NO_DIR + FAILED, uid=NOBODY),
        fails("the attacker's state directory", CE, sh=victim(ATTACK), out=UNTOUCHED, err=ATTACKED),
        ok("trace.log a link", CE, 4, sh=victim("ln -s $v/rc trace.log"), out=UNTOUCHED, trace=[]),
        fails("users a FIFO", SHOW, STORE + IRREGULAR, LIST_FAILED, setup=lambda board: os.mkfifo(board + "/users")),
        c("umask 277", [], sh=UMASK, err=ADDED, out="700 .\n600 event.log\n600 trace.log\n600 users\n600 users.lock\n"),
        # The store holds no more than the board reads back; a failed write names its file.
        c("an add past 32 MiB", CE, users=big, status=46, err="No more User addition.\n", trace=[TOO_BIG, failed(CE)]),
        fails("users.tmp a directory", CE, TMP_DIR, failed(CE), setup=mkdir("users.tmp")),
        fails("users.tmp past the file-size limit", CE, TOO_LARGE, failed(CE), users=SEVEN_KB, sh=LIMITED),
        fails("a uid with no name", CE, *NAMELESS, uid=NOBODY),
        ok("SIGTERM while the add waits for the store: recorded, then ended by it", CE, 4, sh=HELD, out="143\n"),
        c("the question into a dead pipe", add("ce"), sh=DEAD + UNWRITABLE.format(">&5"), out="0\ny\nleft\n"),
        c("the question to a full disk", add("ce"), sh=UNWRITABLE.format(">/dev/full"), out="0\ny\nleft\n"),
        ok("the question to a full non-blocking pipe", add("operator"), 2, sh=FULL_PIPE, out=Q),
    ],
}
