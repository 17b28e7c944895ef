# The end-to-end cases: a row is one run of userctl on a fresh simulated board, one row a line.
#
# c(words, column=value, ...): the words (split as the shell would, or a list), then what the board starts with:
# conf (board.conf), users (the store, or a function making it), faults (USERCTL_BOARD_FAULT), stdin (what is typed;
# with tty, a list, each typed at the terminal once userctl waits for it, a signal number sent there instead), tty (the
# controlling terminal, on descriptors 0 and 1; "nonblocking" left O_NONBLOCK, "not controlling" there alone),
# utmp (the utmp entries that run alone sees, as utmpdump writes them; @TTY@ the terminal, @OTHER@ the pid of
# another user's process, alive in a session of its own), sh (a script calling userctl, in place of the words; there
# userctl is a function, $LAUNCH "$USERCTL_BIN" the command for another to run), setup (a function given the state
# directory), uid (the user running userctl, who then owns the state directory), not_under (the builds it cannot run
# under: "qemu", "memcheck", "sanitizers"), needs (a serial line it runs on: where /dev or /sys lacks it, the row is
# skipped and said so); userctl runs in the state directory. Then what must follow: status (always
# given), out, err, trace (every trace.log text, the board's own included; @DIR@ stands for the state directory, in err
# too), events (event.log fields after the stamp) and store (every account as name:privilege:mask). A column a row
# leaves out expects nothing: no output, no trace line, no event, the store untouched; the runner names those columns
# when the row fails. Each section's scripts stand just above its rows, each written out whole.

import os, pwd, shlex, sys
from signal import SIGHUP, SIGQUIT, SIGTERM, SIGTSTP, SIGWINCH
from types import SimpleNamespace

INPUTS = dict(conf=None, users=None, faults=None, stdin=None, sh=None, tty=False, utmp=None, setup=None, uid=None,
              not_under=(), needs=None)
NOTHING = dict(out="", err="", trace=[], events=[], store=None)  # a column left out: None is the store untouched
# Not under valgrind: rows it would slow down to no purpose, each a path another row takes (an add hashes for a second
# there), or whose seconds it would stretch; rows that only the native build can run.
SLOW, NATIVE_ONLY = "memcheck", ("qemu", "memcheck", "sanitizers")


def c(words, **columns):
    assert "status" in columns and set(columns) <= {"status", *INPUTS, *NOTHING}, columns
    frame = sys._getframe(1)
    while frame.f_code.co_name != "<module>":  # the table's line, through the helpers that made the row
        frame = frame.f_back
    words = shlex.split(words) if isinstance(words, str) else list(words)
    return SimpleNamespace(line=frame.f_lineno, words=words, stated=set(columns), **{**INPUTS, **NOTHING, **columns})


# The words most rows use, and the texts the system prints.
N, P, LOGIN = "alice_123", "Secret#12", pwd.getpwuid(os.geteuid()).pw_name
CE, SHOW = "add user alice_123 Secret#12 Secret#12 ce quiet", "show user_list"
Q, FULL = "Are you sure you want to add alice_123 ? [Y/N]: ", "No more User addition.\n"
INVALID, ADDED = "The specified parameter is invalid.\n", "User addition was completed.\n"
ADD_FAILED, FAILED = "Failed to execute add user command.\n", "Failed to execute the command.\n"
HEADER = "user_name                        privilege          operable_partition\n"
SHOWN, LIST_FAILED = "Command completed. [show user_list]", "Platform call failed. [getInfo(REQ_CGI_GET_USER_LIST)]"
SHOW_THROWN = "Command failed. [show user_list] (detail=20019, action=1537)"
CLI, ADD = "CLI UserCommandCommon: ", "CLI add user: "
SHORT, BAD_NAME = CLI + "Password is too short.", CLI + "Invalid character is included in UserName. [{}] "
BAD_TOP = CLI + "Invalid character is included in UserName. [{}] (top word is bad format)."
PART = CLI + "The specified partition number is invalid. [{}]"
UNSUPPORTED = "The specified command is not supported.(error=[{}])\n"
TOKEN = 'board: USERCTL_BOARD_FAULT: unknown or repeated token "{}"'
CONF, STORE = "board: @DIR@/board.conf", "board: @DIR@/users"
REFUSED = "board: {}: not used as the state directory: {}\n"
REMOVE, LOCKS_REMADE = "; remove it, or move the directory aside", "; remove it, and the board makes a new one"
# A file of one's own that others may reach: a private copy in its place.
COPY = " replace it with a private copy: install -m 600 -o 0 {0} {0}.copy && mv {0}.copy {0}"  # root's
READABLE = "readable by group or others;"
WRITABLE = "writable by group or others, who may have changed it: check it, then"


def masked(words):
    words = shlex.split(words) if isinstance(words, str) else words
    return " ".join("********" if i in (3, 4) else word for i, word in enumerate(words))


def done(words):
    return f"Command completed. [{masked(words)}]"


def failed(words, detail=0, action=0):
    return f"Command failed. [{masked(words)}] (detail={detail}, action={action})"


def event(account, origin="console", login=LOGIN):
    return f"1\t{login}\t{origin}\t0xFF\tUser account {account}: Add"


def no_login(words):
    return f"Command failed. [{masked(words)} (UtmpUtil::getUserInfo()) failed.)] (detail=0, action=0)"


AT_TTY = [event(N, "@TTY@")]  # an add at the terminal, as its event names it


# Rows of a kind.
def add(*rest, name=N, pw=P, again=None):
    # The words of an add of name with password pw (and again, when it differs), then rest.
    return ["add", "user", name, pw, again or pw, *rest]


def ok(words, *stored, partitions=None, **columns):
    # An add that stores the account; stored: the store's lines after it, partitions: as the event shows them.
    words = shlex.split(words) if isinstance(words, str) else words
    account = words[2] if partitions is None else f"{words[2]} (Partition{partitions})"
    columns = {"err": ADDED, "trace": [done(words)], "events": [event(account)], **columns}
    return c(words, **columns, status=0, store=list(stored))


def refused(words, *trace, **columns):
    return c(words, **columns, status=1, err=INVALID, trace=list(trace))


def fails(words, *trace, **columns):
    # A command that the board fails: status 3 and the command's failure message.
    failure = ADD_FAILED if (shlex.split(words) if isinstance(words, str) else words)[:1] == ["add"] else FAILED
    return c(words, **{"err": failure, **columns}, status=3, trace=list(trace))


# The characters at the edges of what is escaped (the blank after C0, DEL, C1, the separators and bidirectional
# controls, past U+10FFFF) and beside them; U+00C0, whose second byte is C1's first; U+0800, U+1000, U+10000 and
# U+40000, the first of E0's, after E0's, of F0's and of F1's forms; U+D080 and U+E080, whose low bits are C1's; U+E800,
# whose second byte only ED's forms refuse; U+DFFF and U+E000, the last surrogate and the character after; the overlong
# forms of U+07FF and U+FFFF; a four-byte form cut short by an x; C3 C0, E0 C0 A0, E1 C0 81, EE C0 81, F0 C0 81 80
# and F1 C0 81 80, each form's lead with a second byte past its range; F5, the first byte past the leads; C3, a lead
# cut short by the word's end.
EDGES = (" \x7f\x80\x9f\xa0\u00c0\u061b\u061c\u061d\u200d\u200e\u200f\u2010\u2027\u2028\u202e\u202f\u2065\u2066"
         "\u2069\u206a\U0010ffff\udcf4\udc90\udc80\udc80\u0800\u1000\ud080\ue080\ue800\U00010000\U00040000"
         "\udced\udcbf\udcbf\ue000\udce0\udc9f\udcbf\udcf0\udc8f\udcbf\udcbf\udcf0\udc9f\udc98x"
         "\udcc3\udcc0\udce0\udcc0\udca0\udce1\udcc0\udc81\udcee\udcc0\udc81\udcf0\udcc0\udc81\udc80"
         "\udcf1\udcc0\udc81\udc80\udcf5\udcc3")
EDGES_SHOWN = (" \\x7f\\xc2\\x80\\xc2\\x9f\u00a0\u00c0\u061b\\xd8\\x9c\u061d\u200d\\xe2\\x80\\x8e\\xe2\\x80\\x8f"
               "\u2010\u2027\\xe2\\x80\\xa8\\xe2\\x80\\xae\u202f\u2065\\xe2\\x81\\xa6\\xe2\\x81\\xa9\u206a"
               "\U0010ffff\\xf4\\x90\\x80\\x80\u0800\u1000\ud080\ue080\ue800\U00010000\U00040000"
               "\\xed\\xbf\\xbf\ue000\\xe0\\x9f\\xbf\\xf0\\x8f\\xbf\\xbf\\xf0\\x9f\\x98x"
               "\\xc3\\xc0\\xe0\\xc0\\xa0\\xe1\\xc0\\x81\\xee\\xc0\\x81\\xf0\\xc0\\x81\\x80"
               "\\xf1\\xc0\\x81\\x80\\xf5\\xc3")
# Words that could drive a terminal or be mistaken for other text, each as the console and the logs both show it: every
# row checks the console's escape (the selector's message) and the board's (a refused privilege's trace line).
ESCAPED = [
    ("x\x1b]2;t\x07\x1b[2J\r\x9b", "x\\x1b]2;t\\x07\\x1b[2J\\r\\xc2\\x9b"),
    ("x\udc9b\u202e\udcc0\udcafy\u00e9\udced\udca0\udc80", "x\\x9b\\xe2\\x80\\xae\\xc0\\xafy\u00e9\\xed\\xa0\\x80"),
    ("x" + EDGES, "x" + EDGES_SHOWN),
    ("a\nforged\\b\t\x7f", "a\\nforged\\\\b\\t\\x7f"),
]
SELECT = [
    c([], status=1),
    c("ADD user", status=1, err=UNSUPPORTED.format("ADD")),
    c("add", status=1, err=UNSUPPORTED.format("")),
    c("add users", status=1, err=UNSUPPORTED.format("users")),
    c("show user", status=1, err=UNSUPPORTED.format("user")),
    c(["\x1b" * 100], status=1, err=UNSUPPORTED.format("\\x1b" * 100)),  # escaped past one buffer of 256 bytes
    *(c([word], status=1, err=UNSUPPORTED.format(shown)) for word, shown in ESCAPED),
    refused("show user_list extra", faults="list=throw"),  # and sends nothing
]


def part(typed, count=4, mask=None, shown=""):
    # add user alice_123 Secret#12 Secret#12 partition_operator TYPED quiet on a board of count partitions: stored
    # with mask, the event showing the partitions shown; refused when mask is None.
    words, conf = add("partition_operator", typed, "quiet"), f"partitions = {count}\n"
    if mask is None:
        return refused(words, PART.format(typed), conf=conf)
    return ok(words, f"{N}:5:{mask}", partitions=shown, conf=conf)


N32, P32 = "Z9_-9_-9_-9_-9_-9_-9_-9_-9_-9_-z", "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"  # the longest name and password
ADD_ROWS = [
    ok(add("user", "quiet", name="aaaaaaaa", pw="pppppppp"), "aaaaaaaa:3:0"),
    ok(add("partition_operator", "1,0", "quiet", name=N32, pw=P32), f"{N32}:5:3", partitions="#0,#1"),
    part("all", 8, 255, "#0,#1,#2,#3,#4,#5,#6,#7"),
    part("0-1,3,10-11", 12, 3083, "#0,#1,#3,#10,#11"),  # decimal, the range's last number too
    part("2-2", 4, 4, "#2"),
    part("010", 16, 1024, "#10"),  # decimal, whatever its leading zeros
    part("31", 32, 2147483648, "#31"),
    part("4", 8),  # only the digits 0 to 3
    part("1", 1),
    part("0-10", 10),
    part("ALL"),
    part("all,1"),
    part(""),
    part("2-1"),
    part("0-1-2"),
    part(",1"),
    part("1,"),
    part("1,-0"),
    # Each refused by its separator rule alone: read without it, each would name partition 0.
    part("-0"),
    part("0-"),
    part("0--0"),
    part("0-,1"),
    part("1,,2"),
    # A command text past what a trace line holds: its completion line cut to 255 bytes.
    ok(add("partition_operator", "0," * 120 + "0", "quiet"), f"{N}:5:1", partitions="#0",
       trace=["Command completed. [add user alice_123 ******** ******** partition_operator " + "0," * 89 + "0"]),
    refused(add("partition_operator", "0," * 100), PART.format("0," * 64)),
    refused("add user alice_123 Secret#12", ADD + "This command need parameters at least 4 ."),
    refused("add user alice_123 Secret#12 Secret#12", ADD + "This command need parameters at least 4 ."),
    refused(add("admin", name="abcdefg"), CLI + "Username is too short. [abcdefg] "),
    refused(add("admin", name="a" * 33), CLI + "Username is too long. [aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa] "),
    refused(add("admin", name="b" * 200), CLI + "Username is too long. [" + "b" * 128 + "] "),
    refused(add("admin", name="1alice_23"), BAD_TOP.format("1alice_23")),
    refused(add("admin", name="_alice_12"), BAD_TOP.format("_alice_12")),
    refused(add("admin", name="alice.123"), BAD_NAME.format("alice.123")),
    *(refused(add(word), CLI + f"privilege [{shown}] is not supported.") for word, shown in ESCAPED),
    refused(add("admin", pw="Secr#12"), SHORT),
    refused(add("admin", pw="S" * 33), CLI + "Password is too long."),
    refused(add("admin", pw="Secret 12"), CLI + "Invalid character is included in Password."),
    refused(add("admin", pw="Secret\x0112"), CLI + "Invalid character is included in Password."),
    refused(add("admin", pw="Secr\u00e9t12"), CLI + "Invalid character is included in Password."),
    refused(add("admin", again="Secr#12"), SHORT),
    refused(add("admin", again="secret#12"), ADD + "The specified password is invalid."),
    refused(add("Admin"), CLI + "privilege [Admin] is not supported."),
    refused(add("x" * 5000), CLI + "privilege [" + "x" * 128 + "] is not supported."),
    refused(add("partition_operator"), ADD + "This command need [partition] parameter at Partition Operator."),
    refused(add("admin", "quiet", "quiet"), ADD + "Needless parameters are specified."),
    refused(add("admin", "Quiet")),
    refused(add("partition_operator", "0", "Quiet")),
]

# Two adds answered through one pipe, n then y: the first reads its own line only.
BATCH = "userctl add user carol_123 Secret#12 Secret#12 user; userctl add user alice_123 Secret#12 Secret#12 operator"
CAROL_Q, PROMPTS = "Are you sure you want to add carol_123 ? [Y/N]: ", "Password: Retype password: "
DEAD_DASHES = "mkfifo p; exec 4<>p 5>p 4<&-; rm p; userctl add user alice_123 - - admin quiet 2>&5"  # a reader gone
DASHES, TYPED_TWICE = "add user alice_123 - - admin", [P + "\r", P + "\r", "y\r"]  # the password twice, then y
UNECHOED = "\r\n\r\n" + Q + "y\r\n"  # the terminal shows the passwords' line feeds, then the question and its reply


def typed(stdin, sh=None, **columns):
    # The add of alice_123 (admin) with "- -" at a terminal, stdin typed there: prompted, unechoed, then asked.
    columns = {"out": UNECHOED, "err": PROMPTS + ADDED, **columns}
    return ok(DASHES, "alice_123:1:0", tty=True, stdin=stdin, events=AT_TTY, sh=sh, **columns)


# A refused add reads its two lines, and its reply unless quiet, all the same; a line without end is read no further
# than 1024 bytes.
REFUSED_READ = ("printf 'Secret#12\\nSecret#12\\ny\\nPw1\\nPw1\\nnext\\n' | { userctl add user 1alice_23 - - admin;"
                " userctl add user alice_123 - - admin quiet; cat; }")
ENDLESS = f"userctl {DASHES} quiet </dev/zero; userctl add user alice_123 Secret#12 Secret#12 admin </dev/zero"
# Two adds through one pipe, the first failing at the board before its question: the second reads its own lines.
LOGIN_FIRST = f'USERCTL_BOARD_FAULT=login $LAUNCH "$USERCTL_BIN" add user carol_123 - - user; userctl {DASHES}'
CONF_FIRST = f"userctl add user carol_123 - - partition_operator all; rm board.conf; userctl {DASHES}"
CAROL_DASHES, THROWN = "add user carol_123 - - user", "Failed to execute add command."
NO_KEY = CONF + ':1: expected "key = value"'


def first_fails(sh, err, *trace, **columns):
    # The adds of sh, each typed the password twice and y: the first fails with err and trace, the second adds.
    stdin, done_too = f"{P}\n{P}\ny\n" * 2, [*trace, done(DASHES)]
    return ok(DASHES, "alice_123:1:0", sh=sh, stdin=stdin, out=Q, err=err + ADDED, trace=done_too, **columns)


# Stopped at the first prompt, by a shell with job control that shows the terminal's echo and input, then continues it.
STOPPED_AT_PROMPT = (f'set -m; $LAUNCH "$USERCTL_BIN" {DASHES}; stty -a | grep -o " -*echo ";'
                     ' stty -icanon min 0 time 0; echo "[$(head -c 64)]"; fg >/dev/null')
STOPPED_SHOWN, REPROMPTED = " echo \r\n[]\r\n" + UNECHOED, "Password: " + PROMPTS + ADDED  # valgrind does not stop
# What the terminal holds once userctl has ended, read by the next program there without waiting.
TYPED_AHEAD = f'set -m; userctl {DASHES}; stty -icanon min 0 time 0; echo "[$(head -c 64)]"'


def ahead(stdin, echoed, err, why):
    # The add of alice_123 with "- -" at a terminal, stdin typed there and refused for why; then the terminal's input.
    return c([], sh=TYPED_AHEAD, tty=True, stdin=stdin, status=0, out=echoed + "[]\r\n", err=err + INVALID, trace=[why])


ASK = [
    # Declined: nothing sent (a request would fail loudly).
    c(add("operator"), stdin="N\n", faults="add=throw", status=0, out=Q),
    c(add("operator"), stdin="y", faults="add=throw", status=0, out=Q),  # no line feed
    c(add("operator"), stdin="y\r\n", faults="add=throw", status=0, out=Q * 2),
    # Standard input a directory, whose read fails (EISDIR) rather than ends: declined, asked once.
    c(add("operator"), sh=f'timeout 20 $LAUNCH "$USERCTL_BIN" {shlex.join(add("operator"))} <.', status=0, out=Q),
    ok(add("operator"), "alice_123:2:0", stdin="yes\n\n y\nYY\nY \n\ty\nY\n", out=Q * 7),
    ok(add("operator"), "alice_123:2:0", sh=BATCH, stdin="n\ny\n", out=CAROL_Q + Q),
    # "- -": the passwords read, never on the command line. At a terminal: prompted, not echoed (but the line feed).
    typed(TYPED_TWICE),
    typed([SIGWINCH] + TYPED_TWICE),  # the terminal's window resized at the first prompt
    # A signal its caller ignores (nohup's HUP) stays ignored once the passwords are read: sent at the question.
    typed([P + "\r", P + "\r", SIGHUP, "y\r"], f'trap "" HUP; exec $LAUNCH "$USERCTL_BIN" {DASHES}'),
    # Stopped at a prompt, it gives the terminal back as it was, what was typed of the line dropped; continued, it hides
    # the typing again and asks again.
    typed(["Secr", SIGTSTP] + TYPED_TWICE, STOPPED_AT_PROMPT, out=STOPPED_SHOWN, err=REPROMPTED, not_under="memcheck"),
    # Ended at a prompt, by kill as by the keyboard: what was typed of the line is dropped as echo comes back.
    c([], sh=TYPED_AHEAD, tty=True, stdin=["Secr", SIGTERM], status=0, out="[]\r\n", err="Password: Terminated\n"),
    # One the C library keeps for threads cannot be caught: it waits until the typing is done, and echo back on.
    c(DASHES, tty=True, stdin=[32, P + "\r", P + "\r"], status=-32, out="\r\n\r\n", err=PROMPTS, not_under="qemu"),
    # From a pipe: a line each, then the reply; a last line may lack its line feed.
    ok(DASHES, "alice_123:1:0", stdin=f"{P}\n{P}\ny\n", out=Q),
    ok(DASHES + " quiet", "alice_123:1:0", stdin=f"{P}\n{P}"),
    ok(DASHES + " quiet", "alice_123:1:0", stdin=f"{P}\n{P}\n", sh=DEAD_DASHES, err=""),  # SIGPIPE left ignored
    # A line is judged as a word is, every byte of it; a line the input ended before is missing.
    refused(DASHES + " quiet", ADD + "The specified password is invalid.", stdin=f"{P}\nSecret#13\n"),
    refused(DASHES + " quiet", CLI + "Password line is missing.", stdin=f"{P}\n"),
    refused(DASHES + " quiet", CLI + "Password line is missing.", stdin=""),
    refused(DASHES + " quiet", CLI + "Invalid character is included in Password.", stdin=f"{P}\r\n{P}\n"),
    refused(DASHES + " quiet", CLI + "Invalid character is included in Password.", stdin="Secr\0t#12\n"),
    # Two lines an add, and a reply without quiet, whatever it refuses; no more than 1024 bytes of a line without end.
    c([], sh=REFUSED_READ, status=0, out="next\n", err=INVALID * 2, trace=[BAD_TOP.format("1alice_23"), SHORT]),
    c([], sh=ENDLESS, status=0, out=Q, err=INVALID, trace=[CLI + "Password is too long."]),
    # Nor when the board fails before the question: a login lookup failed, a platform failure thrown.
    first_fails(LOGIN_FIRST, ADD_FAILED, "board: login lookup failed (injected fault)", no_login(CAROL_DASHES)),
    first_fails(CONF_FIRST, NO_KEY + "\n" + THROWN + "\n", NO_KEY, THROWN, conf="x\n"),
    # A refusal at a terminal drops what was typed ahead, the repetition (or the reply), before echo comes back.
    ahead([f"Secr#12\r{P}\r"], "\r\n" * 2, "Password: ", SHORT),
    ahead([P + "\r", "Secret#13\ry\r"], "\r\n" * 3, PROMPTS, ADD + "The specified password is invalid."),
    # At a terminal every word is judged before the first prompt.
    refused(DASHES + "x quiet", CLI + "privilege [adminx] is not supported.", tty=True),
    refused(add("admin", pw="-", again=P), SHORT),  # a single "-" is a word
]

CAROL, TWO = "add user carol_123 Secret#12 Secret#12 user quiet", "alice_123:1:0:!\nbob_12345:3:0:!\n"
BOB = "bob_12345:3:0:!\n"
COUNT = CONF + ":1: partitions must be a number from 1 to 32 (default 4)"
# Two accounts, one password: two verifiers.
SAME_PW = f"userctl {CE}; userctl {CAROL}"
BOTH, BOTH_EVENTS = [done(CE), done(CAROL)], [event(N), event("carol_123")]  # their trace lines and events
UNDONE = "board: add undone: account record not written (injected fault)"
SERVICE = [
    c(CE, users=TWO, status=47, err="Same name already exists. User addition failed.\n", trace=[failed(CE)]),
    c(CAROL, conf="max_users = 1\n", users="bob_12345:3:0:!\n", status=46, err=FULL, trace=[failed(CAROL)]),
    ok(CE, "alice_123:4:0", "carol_123:3:0", sh=SAME_PW, err=ADDED * 2, trace=BOTH, events=BOTH_EVENTS, not_under=SLOW),
    fails(CE, "board: add-user request refused with 5 (injected fault)", failed(CE), faults="add=5"),
    fails(CE, failed(CE, 20019, 1537), faults="add=throw"),
    fails(CE, UNDONE, "Platform call failed. [llog_putHalmLog]", faults="event=fail"),  # nonzero, never completed
    fails(CE, TOKEN.format("nonsense"), failed(CE, 20019, 1537), faults="nonsense"),
    fails(CE, TOKEN.format("add=6"), failed(CE, 20019, 1537), faults="add=5,add=6"),
    fails(add("ce"), "board: login lookup failed (injected fault)", no_login(add("ce")), faults=" add=5 , login "),
    fails(add("partition_operator", "0"), COUNT, THROWN, conf="partitions = 33\n", err=f"{COUNT}\n{THROWN}\n"),
    # A board may report more partitions than a mask holds: the words name 32 at most.
    refused(add("partition_operator", "33", "quiet"), PART.format("33"), faults="partitions=40"),
    ok(add("partition_operator", "31", "quiet"), "alice_123:5:2147483648", partitions="#31", faults="partitions=40"),
]


def together(name, count, conf, out, not_under=()):
    # count adds started at once ($i in the name: 10, 11, ...); out: how many ended with each status (uniq -c), the
    # store's whole lines, its distinct names and the trace lines. The files are cleared after. Under qemu, whose
    # hashing takes ten times as long, one set of them stands for all.
    script = (f"for i in $(seq 10 {count + 9}); do (userctl add user {name} Secret#12 Secret#12 user quiet 2>/dev/null;"
              " echo $?) & done | sort | uniq -c; cd $USERCTL_BOARD_DIR;"
              " grep -cE '^[a-z_]+[0-9]*:3:0:[!-9;-~]+$' users; cut -d: -f1 users | sort -u | wc -l; wc -l <trace.log;"
              " rm users* *.log")
    return c([], sh=script, conf=conf, status=0, out=out, not_under=not_under)


TOGETHER = [
    together("conc_user$i", 20, "", "     20 0\n20\n20\n20\n", "qemu"),
    together("full_user$i", 20, "max_users = 8\n", "      8 0\n     12 46\n8\n8\n20\n", "qemu"),
    together("same_name", 8, "", "      1 0\n      7 47\n1\n1\n8\n"),
]


def listed(account, line, **columns):
    # show user_list on a store of one account: the header and the account's line.
    return c(SHOW, users=account + "\n", **columns, status=0, out=HEADER + line + "\n", trace=[SHOWN])


ORDER = "zeta_user:3:0:!\nalice_123:1:0:!\n"
ORDER_SHOWN = ("zeta_user                        User               \n"
               "alice_123                        Admin              \n")
# Each setting at its most, and the file too: 65536 bytes, a comment of 65479 and 57 of settings; comments, blanks and
# CR ignored.
WIDE = "#" * 65479 + "\n partitions=32 # all\n\n\tmax_users = 65535\r\nlock_wait=50"
MANY = "".join(f"user_{i:05d}:3:0:!\n" for i in range(65535))
MORE = MANY + "user_65535:3:0:!\n"
MANY_SHOWN = "".join(f"user_{i:05d}                       User               \n" for i in range(65535))
SHOW_ROWS = [
    c(SHOW, users=ORDER, status=0, out=HEADER + ORDER_SHOWN, trace=[SHOWN]),  # the store's order
    listed("operator1:2:0:$y$~", "operator1                        Operator           "),
    listed("ce_account:4:0:!", "ce_account                       CE                 "),
    listed("part_op_c:5:4294967295:!", "part_op_c                        Partition Operator #0,#1,#2,#3"),
    listed("n" * 36 + ":1:0:!", "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn Admin              "),
    listed("wide_oper:5:2147483649:!", "wide_oper                        Partition Operator #0,#31", conf=WIDE),
    c(SHOW, users=MANY, status=0, out=HEADER + MANY_SHOWN, trace=[SHOWN], not_under=SLOW),
    fails(SHOW, STORE + ": 65536 accounts are more than a list can carry", LIST_FAILED, users=MORE, not_under=SLOW),
    fails(SHOW, "board: user list refused (injected fault)", LIST_FAILED, users=TWO, faults="list=fail"),
    fails(SHOW, SHOW_THROWN, users=TWO, faults="list=throw"),
    fails(SHOW, "board: user list reply refused by its receiver", LIST_FAILED, users=TWO, faults="list=corrupt"),
    fails(SHOW, failed(SHOW), users=TWO, sh="userctl show user_list >/dev/full"),
]


def bad_conf(conf, why):
    return fails(SHOW, CONF + why, SHOW_THROWN, conf=conf, err=f"{CONF}{why}\n{FAILED}")


def bad_store(words, users, why):
    return fails(words, STORE + why, LIST_FAILED if words == SHOW else failed(words), users=users)


PAST_LIMIT = lambda board: os.truncate(board + "/users", 33554433)  # a byte past what the board reads, sparse


def distrusted(words, name, why, doing="cannot read", **columns):
    # A board file that the board does not trust: every operation refused, the reason on the console and traced.
    line, failure = f"board: @DIR@/{name}: {doing}: {why}", SHOW_THROWN if words == SHOW else failed(words, 20019, 1537)
    return fails(words, line, failure, err=line + "\n" + (FAILED if words == SHOW else ADD_FAILED), **columns)


# The state directory from XDG_STATE_HOME, when USERCTL_BOARD_DIR is empty, else HOME: each made 0700 and used.
XDG = ("d=$USERCTL_BOARD_DIR; USERCTL_BOARD_DIR=; XDG_STATE_HOME=$d/x userctl show user_list;"
       " XDG_STATE_HOME=x HOME=$d/h userctl show user_list; cd $d; set x/userctl/board h/.local/state/userctl/board;"
       " stat -c '%a %n' $@; cat $1/trace.log $2/trace.log | wc -l; ls x; rm -r x h")
LOCKS_FILE = f"board: @DIR@/trace.log: cannot write: @DIR@/locks: not a directory{LOCKS_REMADE}\n"
# trace.log's lock file a directory, in a lock directory as the board makes it.
LOG_LOCK_MADE = lambda board: [os.mkdir(board + path, 0o700) for path in ("/locks", "/locks/trace.log")]
LOG_LOCK_DIR = f"board: @DIR@/trace.log: cannot write: @DIR@/locks/trace.log: not a regular file{REMOVE}\n"
LONG_WAIT = ":1: lock_wait = 51 is more than 50: taken as 50"
BOARD = [
    bad_conf("partitions 8\n", ':1: expected "key = value"'),
    bad_conf("max_users = 5\n# x\nmax_users = 5\n", ":3: max_users given twice"),
    bad_conf("partitions = 4\npartitions = 4\n", ":2: partitions given twice"),
    bad_conf("lock_wait = 1\nlock_wait = 1\n", ":2: lock_wait given twice"),
    # Each key's range, and its default, told by its refusal (partitions' by an add's): none waits lock_wait's 15 s out.
    bad_conf("max_users = 0\n", ":1: max_users must be a number from 1 to 65535 (default 100)"),
    bad_conf("lock_wait = 3601\n", ":1: lock_wait must be a number from 1 to 3600 (default 15)"),
    # A wait longer than a call may take, accepted by earlier releases, is taken as the longest, and said so.
    c(SHOW, conf="lock_wait = 51\n", status=0, out=HEADER, trace=[CONF + LONG_WAIT, SHOWN]),
    bad_conf("colour = red\n", ":1: unknown setting"),
    bad_conf("#" * 65537, ": cannot read: File too large"),
    fails(SHOW, TOKEN.format("add=2147483648"), SHOW_THROWN, faults="add=2147483648"),
    fails(SHOW, TOKEN.format("add=0"), SHOW_THROWN, faults="add=0"),  # no refusal, and no account
    fails(SHOW, TOKEN.format("partitions=0"), SHOW_THROWN, faults="partitions=0"),  # nor no partition
    bad_store(CAROL, "alice_123:1:0:!\nbob_12345:3:0:$y$j9T$half", ":2: truncated line"),
    bad_store(SHOW, "n" * 37 + ":1:0:!\n", ":1: name too long"),
    bad_store(SHOW, "alice_123:x:0:!\n", ":1: privilege is not a decimal number"),
    bad_store(SHOW, "alice_123:6:0:!\n", ":1: unknown privilege"),
    bad_store(SHOW, "alice_123:0:0:!\n", ":1: unknown privilege"),
    bad_store(SHOW, "alice_123:1:0:\n", ":1: bad verifier"),
    bad_store(SHOW, "alice_123:1:0:$y$\x01\n", ":1: bad verifier"),
    fails(SHOW, STORE + ": cannot read: File too large", LIST_FAILED, users="", setup=PAST_LIMIT),
    bad_store(SHOW, "alice_123:1:0\n", ":1: missing field"),
    bad_store(SHOW, "alice_123:1:0:!:x\n", ":1: too many fields"),
    bad_store(SHOW, ":1:0:!\n", ":1: empty name"),
    bad_store(SHOW, "alice\x00123:1:0:!\n", ":1: NUL byte"),
    bad_store(SHOW, "alice\x7f123:1:0:!\n", ":1: name with a byte outside printable ASCII"),
    bad_store(SHOW, "alice_123:5:18446744073709551617:!\n", ":1: partition mask is not a 32-bit decimal number"),
    bad_store(SHOW, "alice_123:5::!\n", ":1: partition mask is not a 32-bit decimal number"),
    bad_store(CAROL, TWO + "alice_123:1:0:!\n", ":3: repeated name"),
    fails(CE, sh=f"umask 077; : >locks; userctl {CE}", err=LOCKS_FILE + ADD_FAILED),
    c(SHOW, setup=LOG_LOCK_MADE, status=0, out=HEADER, err=LOG_LOCK_DIR),  # the list shown, its trace line lost
    c([], sh=XDG, status=0, out=HEADER * 2 + "700 x/userctl/board\n700 h/.local/state/userctl/board\n2\nuserctl\n"),
    ok(CE, "alice_123:4:0", sh=f"userctl {CE} <&-"),  # standard input closed
]


# The test holds the store's lock, the flock of the state directory, on descriptor 9; an add waits for it once it has
# the directory open twice, the second time for its lock.
STORE_HELD = "umask 077; mkdir locks; exec 9<.; flock 9;"
# The job has count paths ending in name open, once it runs: until its exec, the shell's child keeps the test's.
opened = lambda name, count=1: (f"""[ "$(readlink /proc/$!/exe)" != "$(readlink /proc/$$/exe)" ] &&"""
                                f""" [ "$(ls -l /proc/$!/fd 2>/dev/null | grep -c "{name}$")" -ge {count} ]""")


def paused(action, fault="", at="fdatasync", more=""):
    # The add of alice_123 (ce, quiet), stopped by strace as it makes its record durable (its first fdatasync, failed
    # as fault says), past its request and before its store changes (at fsync: as it makes its new store durable, its
    # logs held, before its lines), every signal's action the default (a background job ignores INT): action runs once
    # strace has seen it stop, and the add is continued; then the add's status. more: other faults. LeakSanitizer
    # cannot work under a tracer.
    return ("s=$(mktemp); ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 env --default-signal strace -D -o $s"
            f" -e trace=fsync,fdatasync {more}"
            f' -e inject={at}:{fault}signal=STOP:when=1 $LAUNCH "$USERCTL_BIN" {CE} &'
            ' until grep -qs "stopped by" $s || ! kill -0 $!; do sleep 0.01; done;'
            f" {action}; kill -CONT $!; wait $! 2>/dev/null; echo $?; rm $s")


# The store's names meanwhile; then the three signals that end a command most often and the last one the kernel numbers
# (64), the lowest delivered first.
ENDED_PAUSED = paused("cut -d: -f1 users; kill -TERM $!; kill -INT $!; kill -HUP $!; kill -64 $!")
# The test holds a lock while a command runs, and never releases it.
LOG_HELD = "umask 077; mkdir locks; exec 3>>locks/trace.log; flock 3; userctl show user_list 3>&-"
EVENT_HELD = f"umask 077; mkdir locks; exec 3>>locks/event.log; flock 3; userctl {CE} 3>&-"
BUSY = "board: the store is busy: another process holds its lock; try again"
CANCELLED = ["board: add cancelled by signal 15 while waiting for the store", failed(CE)]
LOG_BUSY = "board: @DIR@/trace.log: cannot write: another process holds its lock\n"
EVENT_BUSY = "board: @DIR@/event.log: cannot write: another process holds its lock"


def waited(meanwhile, wrapper="", held=(STORE_HELD, " $PWD", 2)):
    # The test holds the store's lock (held: how, and the add waits for it once it has that many paths ending so open);
    # the add of alice_123 (ce, quiet), every signal's action the default, run by wrapper, is started, and once it waits
    # for the lock (or has ended, not waited for ever) meanwhile runs; then the add's status and the seconds from the
    # moment it waited to its end (0.2 s allowed for the look). The lock is released when meanwhile says, else once the
    # add has ended: released at once, it could be taken before the add looked for a signal sent it.
    return (f'{held[0]} env --default-signal {wrapper} $LAUNCH "$USERCTL_BIN" {CE} 9>&- & until {opened(*held[1:])}'
            " || ! kill -0 $!; do sleep 0.01; done;"
            f" s=$(date +%s%N); {meanwhile} wait $! 2>/dev/null;"
            " echo $? $(( ($(date +%s%N) - s + 200000000) / 1000000000 ))")


# A line stamped once its log is held: the test writes one of its own while a list waits for trace.log's lock.
IN_ORDER = ('umask 077; mkdir locks; exec 9>>locks/trace.log; flock 9; $LAUNCH "$USERCTL_BIN" show user_list 9>&-'
            f" >/dev/null & until {opened('/locks/trace.log')} ||"
            ' ! kill -0 $!; do sleep 0.01; done; echo "$(date -u +%FT%T.%3NZ) userctl[1]: mine" >>trace.log;'
            " exec 9>&-; wait $!; cut -c1-24 trace.log | sort -c && echo in order")
# trace.log's lock taken once the add waits for the store: held after a signal until the add waits for it, or for good.
CANCEL_BRIEFLY = waited(f"exec 4>>locks/trace.log; flock 4; kill -TERM $!; until {opened('/locks/trace.log')} ||"
                        " ! kill -0 $!; do sleep 0.01; done; exec 4>&-;")
# trace.log's lock held from the start: the add waits lock_wait (2 s) for it once, its refusal's lines not again.
LOG_WAITED = ('umask 077; mkdir locks; exec 4>>locks/trace.log; flock 4; s=$(date +%s%N); $LAUNCH "$USERCTL_BIN"'
              f" {CE} 4>&-; echo $? $(( ($(date +%s%N) - s) / 100000000 )) | awk '{{print $1, ($2 >= 20 && $2 < 35)}}'")
# The store's lock as the releases before took it, the lock directory's flock.
OLDER_HELD = ("umask 077; mkdir locks; exec 9<locks; flock 9;", "/locks", 1)
LOCKS = [
    # The wait for the store: cancelled by a signal that would end the command (not by an ignored one), bounded.
    c(CE, sh=waited("kill -TERM $!;"), status=0, out="143 0\n", err=ADD_FAILED, trace=CANCELLED),
    c(CE, sh=waited("kill -TERM $!;", held=OLDER_HELD), status=0, out="143 0\n", err=ADD_FAILED, trace=CANCELLED),
    ok(CE, "alice_123:4:0", sh=waited("kill -HUP $!; exec 9>&-;", "nohup"), out="0 0\n"),
    # From its request to its record, a signal that would end the add ends it only once its outcome is recorded.
    ok(CE, "bob_12345:3:0", "alice_123:4:0", users=BOB, sh=ENDED_PAUSED, out="bob_12345\n129\n"),  # the store as was
    ok(CE, "alice_123:4:0", sh=paused("flock -n locks true; echo $?"), out="1\n0\n"),  # the lock directory's kept too
    fails(CE, BUSY, failed(CE), conf="lock_wait = 1\n", sh=f"{STORE_HELD} userctl {CE}", err=BUSY + "\n" + ADD_FAILED),
    # A cancelled add's reason waits for trace.log; a refusal for its lock does not wait for it again.
    c(CE, sh=CANCEL_BRIEFLY, status=0, out="143 0\n", err=ADD_FAILED, trace=CANCELLED, not_under=SLOW),
    c(CE, conf="lock_wait = 2\n", sh=LOG_WAITED, status=0, out="3 1\n", err=LOG_BUSY + ADD_FAILED, not_under=SLOW),
    c(SHOW, conf="lock_wait = 1\n", sh=LOG_HELD, status=0, out=HEADER, err=LOG_BUSY),  # and a log's, its line lost
    c(SHOW, sh=IN_ORDER, status=0, out="in order\n", trace=["mine", SHOWN]),
    # The lock directory removed, as a stale one is, while an add holds its locks: the next add is kept out still.
    ok(CE, "alice_123:4:0", conf="lock_wait = 1\n", sh=paused(f"rm -r locks; userctl {CAROL}; echo $?"), out="3\n0\n",
       err=BUSY + "\n" + ADD_FAILED + ADDED, trace=[done(CE), BUSY, failed(CAROL)]),
    # An add takes the logs' locks, after the store's, before it changes anything: one held is a busy board.
    fails(CE, EVENT_BUSY, failed(CE), conf="lock_wait = 1\n", sh=EVENT_HELD, err=EVENT_BUSY + "\n" + ADD_FAILED),
]


def injected(faults):
    # The add of alice_123 (ce, quiet) under strace, injecting faults into its system calls.
    return f'ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -f -o /dev/null {faults} $LAUNCH "$USERCTL_BIN" {CE}'


EIO = "board: @DIR@/trace.log: cannot write: Input/output error"
EINTR = "-e inject=read,write:error=EINTR:when=1"  # the first read and the first write traced
EIO_ONCE = "-e inject=fdatasync:error=EIO:when=1"  # the record's first sync fails, not the undo's
# A plain add's calls that make its files durable or put one in place, with the files they name.
SYNCS = ('ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -qq -y -o calls -e signal=none'
         f' -e trace=fsync,fdatasync,renameat,renameat2 $LAUNCH "$USERCTL_BIN" {CE};'
         ' sed -E "s|$PWD|D|g; s/ +=.*//; s/[0-9]+</</g" calls; rm calls')
SYNCS_SEEN = ("fsync(<D/users.new>)\nfsync(<D>)\nfdatasync(<D/trace.log>)\nfdatasync(<D/event.log>)\n"
              'renameat(<D>, "users.new", <D>, "users")\nfsync(<D>)\n')
UNSYNCED = "board: @DIR@: cannot sync the directory: Input/output error"
THROWN_ADD, NOT_PLACED = failed(CE, 20019, 1537), "board: @DIR@/users.new: cannot put in place: Input/output error"
NOT_PLACED_TOLD = NOT_PLACED + "\n" + ADD_FAILED
LANDED_NOT, CAROL_DONE = "board: an add of alice_123 was interrupted before it was stored", [done(CAROL)]
# The record not made durable, nor then its lines cut back; then carol_123's add.
CUT_FAILS = injected("-e inject=fdatasync:error=EIO -e inject=ftruncate:error=EIO") + f"; userctl {CAROL}"
# A file an interrupted add left (its content, its name), then carol_123's add.
LEFT = "umask 077; printf '{}' >{}; userctl " + CAROL
OLDER_LEFT, CUT_LEFT = LEFT.format("alice_123:1:0:!\\n", "users.tmp"), LEFT.format("bob_1", "users.new")
OLDER = "board: an add of bob_12345 was stored by an older board that may not have recorded it"
UNFINISHED = "board: @DIR@/users.new: removed, the unfinished store of an interrupted add"
NEW_DIR = "board: @DIR@/users.new: cannot read: not a regular file" + REMOVE
NEW_DIR_TOLD, BOB_CAROL = NEW_DIR + "\n" + ADD_FAILED, ("bob_12345:3:0", "carol_123:3:0")
CUT_TRACE, ALICE_NOT = [done(CE), EIO, THROWN_ADD, LANDED_NOT, *CAROL_DONE], [done(CE), LANDED_NOT, *CAROL_DONE]
BUS_FIRST = paused("kill -BUS $!") + f"; userctl {CAROL}"  # then carol_123's add
STAYS = "board: account alice_123 not stored, but its record stays, and users.new for the next add to tell: @DIR@/"
NOT_CUT = (STAYS + "trace.log: cannot"
           f" cut back: Input/output error\n{EIO}\n{ADD_FAILED}{ADDED}")
# The add at a terminal whose output is stopped (Ctrl-S), killed once its account is stored, then output resumed.
STOPPED = ("python3 -c 'import termios; termios.tcflow(1, termios.TCOOFF)'; $LAUNCH \"$USERCTL_BIN\" add user alice_123"
           " Secret#12 Secret#12 ce quiet 2>&1 & for i in $(seq 2000); do grep -qs alice users && break; sleep 0.01;"
           " done; kill -9 $!; wait $! 2>/dev/null; s=$?;"
           " python3 -c 'import termios; termios.tcflow(1, termios.TCOON)'; echo $s")
# The lock directory removed while an add holds its logs, a list's line after its own, its record not made durable: the
# undo cuts nothing of another's, and the next add, carol_123's, says the add did not land.
AFTER_MINE = paused("rm -r locks; userctl show user_list >/dev/null", "error=EIO:") + f"; userctl {CAROL}"
KEPT_LINES = (STAYS + "trace.log: cannot cut back: another process wrote among or after the add's lines\n"
              f"{EIO}\n{ADD_FAILED}{ADDED}")
# A list's line after the add has taken the logs, before its own lines, which its undo cuts alone.
BEFORE_MINE = paused("rm locks/trace.log; userctl show user_list >/dev/null", at="fsync",
                     more="-e inject=fdatasync:error=EIO:when=1")
# Its trace line not written at all (no room), after a list's: nothing of it to cut there, its event line cut.
NO_ROOM = "board: @DIR@/trace.log: cannot write: No space left on device"
UNWRITTEN = "userctl show user_list >/dev/null; " + injected("-P $PWD/trace.log -e inject=write:error=ENOSPC:when=1")
# Its lines cut, the cut not made durable; then carol_123's add.
CUT_UNSYNCED = injected("-e inject=fdatasync:error=EIO") + f"; userctl {CAROL}"
UNSYNCED_TRACE = [EIO, THROWN_ADD, LANDED_NOT, *CAROL_DONE]
MAY_COME_BACK = ("board: account alice_123 not stored; its record is cut back, but may come back after a power cut, and"
                 " users.new stays for the next add to tell: @DIR@/trace.log: cannot sync the cut: Input/output"
                 f" error\n{EIO}\n{ADD_FAILED}{ADDED}")
# The state directory replaced by another while the add makes its record durable: its store not put in place there, and
# the directory moved aside then shows no new store; then root removes it.
MOVED = paused('mv -T "$PWD" "$PWD.aside"; mkdir -m 700 "$PWD"') + '; ls; rm -r "$PWD.aside"'
MOVED_TOLD = ("board: @DIR@/users.new: cannot put in place: @DIR@ is another directory now, put in its place while the"
              f" add ran\n{ADD_FAILED}")
RECORD = [
    # Interrupted once, a read of the store or a write of a log is tried again: nothing lost, nothing written twice.
    ok(CE, "bob_12345:3:0", "alice_123:4:0", users=BOB, sh=injected(f"-P $PWD/users -P $PWD/trace.log {EINTR}")),
    # The record first: the new store and both logs made durable before one rename puts the store in place.
    ok(CE, "alice_123:4:0", sh=SYNCS, out=SYNCS_SEEN),
    # What fails before that rename leaves the store as it was: users.new's name not made durable, the record not made
    # durable, the rename refused.
    fails(CE, UNSYNCED, failed(CE), users=BOB, sh=injected("-e inject=fsync:error=EIO:when=2")),
    fails(CE, EIO, THROWN_ADD, users=BOB, sh=injected(EIO_ONCE), err=EIO + "\n" + ADD_FAILED),
    fails(CE, NOT_PLACED, THROWN_ADD, users=BOB, sh=injected("-e inject=renameat:error=EIO"), err=NOT_PLACED_TOLD),
    c(CE, sh=MOVED, status=0, out="3\nevent.log\nlocks\ntrace.log\n", err=MOVED_TOLD),
    # Nor its lines cut back: the record stays, the account is not stored, and the next add says so for good.
    ok(CAROL, *BOB_CAROL, users=BOB, sh=CUT_FAILS, err=NOT_CUT, trace=CUT_TRACE, events=BOTH_EVENTS),
    ok(CAROL, "carol_123:3:0", sh=AFTER_MINE, out="3\n", err=KEPT_LINES, events=[event("carol_123")],
       trace=[done(CE), SHOWN, EIO, THROWN_ADD, LANDED_NOT, *CAROL_DONE]),
    c(CE, sh=BEFORE_MINE, status=0, out="3\n", err=EIO + "\n" + ADD_FAILED, trace=[SHOWN, EIO, THROWN_ADD]),
    fails(CE, SHOWN, NO_ROOM, THROWN_ADD, sh=UNWRITTEN, err=NO_ROOM + "\n" + ADD_FAILED),
    ok(CAROL, "carol_123:3:0", sh=CUT_UNSYNCED, err=MAY_COME_BACK, trace=UNSYNCED_TRACE, events=[event("carol_123")]),
    # What an interrupted add left, the next add traces for good before it removes it: an older board's kept store,
    # whose add was stored perhaps unrecorded, or a store file cut short. One that is no file of the board's is refused.
    ok(CAROL, "alice_123:1:0", "bob_12345:3:0", "carol_123:3:0", users=TWO, sh=OLDER_LEFT, trace=[OLDER, *CAROL_DONE]),
    ok(CAROL, *BOB_CAROL, users=BOB, sh=CUT_LEFT, trace=[UNFINISHED, *CAROL_DONE]),
    fails(CAROL, NEW_DIR, failed(CAROL), users=BOB, setup=lambda d: os.mkdir(d + "/users.new"), err=NEW_DIR_TOLD),
    # A fault signal sent then ends it at once, as a real fault would, and so does SIGKILL: not stored, and the next
    # add says so.
    ok(CAROL, "carol_123:3:0", sh=BUS_FIRST, out="135\n", trace=ALICE_NOT, events=BOTH_EVENTS, not_under="sanitizers"),
    # Nor waits on a file: the stamps read no time zone; nor on a terminal: the console is told once it is recorded.
    ok(CE, "alice_123:4:0", tty=True, sh=STOPPED, out="137\r\n", err="", events=AT_TTY),
    ok(CE, "alice_123:4:0", sh=f'mkfifo tz; TZ=$PWD/tz timeout 20 $LAUNCH "$USERCTL_BIN" {CE}; s=$?; rm tz; exit $s'),
]


def planted(name, make=lambda path: os.close(os.open(path, os.O_CREAT | os.O_WRONLY, 0o600)), uid=65534):
    # name in the state directory, made (an empty file by default) and given to uid.
    return lambda board: (make(os.path.join(board, name)), os.lchown(os.path.join(board, name), uid, -1))


def unrecorded(name, why, *trace, traced=False, **columns):
    # The add of alice_123 (ce, quiet) refused before it stores anything, since its record could not be written to the
    # log name after; the reason traced too where trace.log can take it. trace: what trace.log holds otherwise.
    line = f"board: @DIR@/{name}: cannot write: {why}"
    trace = [line, failed(CE)] if traced else trace
    return fails(CE, *trace, err=line + "\n" + ADD_FAILED, **columns)


def with_mode(mode, name="board.conf", words=SHOW):
    # userctl with words, the board file name given mode, then 0600 again.
    return f"chmod {mode} {name}; userctl {words}; s=$?; chmod 600 {name}; exit $s"


def untrusted(how, why, undo, at=""):
    # The state directory (or what at names below it) made untrustworthy by how, then undone: refused, its reason on
    # the console.
    script = f"{how}; USERCTL_BOARD_DIR=$PWD{at} userctl show user_list; s=$?; {undo}; exit $s"
    return fails(SHOW, sh=script, err=REFUSED.format(f"@DIR@{at}".rstrip("/"), why) + FAILED)


def used(at, how=":", undo=":"):
    # The state directory named $PWD{at}, made so by how, then undone: used.
    script = f"{how}; USERCTL_BOARD_DIR=$PWD{at} userctl show user_list; {undo}"
    return c(SHOW, sh=script, status=0, out=HEADER, trace=[SHOWN])


def victim(plant):
    # The add of alice_123 (ce, quiet), with plant's links into a victim's directory ($v: rc, a file of theirs; new,
    # one they have not); then the directory and rc as they are after it. What an attacker made is undone.
    return (f"v=$(mktemp -d); echo '# rc' >$v/rc; {plant}; userctl {CE}; s=$?; ls $v; cat $v/rc; rm -r $v;"
            " find . -type l -delete; chown 0:0 .; chmod 700 .; exit $s")


def big():
    # A store of exactly 32 MiB, the most the board reads back: 64 accounts, then one of 88 bytes, as long as the line
    # of alice_123 (ce) with its yescrypt verifier of 73 bytes.
    last = f"zed_12345:3:0:{'v' * 73}\n"
    return "".join(f"big_{i:05d}:3:0:{'v' * (524273 - 88 * (i == 63))}\n" for i in range(64)) + last


# A sparse trace.log past 2 GiB: only its last bytes read, then emptied for the runner.
BIG_LOG = (f"umask 077; truncate -s 2200M trace.log; userctl {CE};"
           " tail -c 200 trace.log | tr -d '\\0' | cut -d' ' -f3-; : >trace.log")
# trace.log of 100 lines of 51 bytes, each with the text "x" * 13, 20 bytes short of a file-size limit of 5120 bytes.
FILL = ('umask 077; yes "$(date -u +%FT%T.000Z) userctl[1]: xxxxxxxxxxxxx" | head -n 100 >trace.log; ulimit -f 10;'
        f" userctl {CE}")
OTHERS = "@DIR@/{}, on its path, belongs to uid 65534; set USERCTL_BOARD_DIR to a path not through it"
OPEN_ON_PATH = "@DIR@/w, on its path, is writable by group or others; chmod go-w it, or chmod +t it"
OWN, ELSEWHERE = "; set USERCTL_BOARD_DIR to a directory of your own", "; set USERCTL_BOARD_DIR to another directory"
# A state directory its user cannot make: the system's reason, and where to look instead.
CANNOT_MAKE = "chmod 500 .; USERCTL_BOARD_DIR=$PWD/new userctl show user_list; s=$?; chmod 700 .; exit $s"
# A state directory others could open: private copies of its files put in its place, by root (by uid 65534 in
# BOARD_REPLACES), what is no file of the board's left aside.
FILES = ("'(' -name board.conf -o -name users -o -name users.new -o -name users.tmp -o -name trace.log -o -name"
         " event.log ')'")
ROOT_REPLACES = ("while no command runs, as root, put a private copy in its place: chmod 700 @DIR@ && mkdir -m 700"
                 " @DIR@.fresh && chown 0 @DIR@.fresh && find @DIR@/ -maxdepth 1 -type f -links 1 -user 0 " + FILES +
                 " -exec cp -p -t @DIR@.fresh {} + && mv -T @DIR@ @DIR@.aside && mv -T @DIR@.fresh @DIR@")
HELD = "who may hold its lock through a descriptor no chmod revokes"
READ_DIR = "readable by group or others, " + HELD + "; "
# A state directory whose name the shell would split, open to others: its remedy run as printed, then a list.
QUOTED = ("d=\"$PWD/it's b\"; mkdir -m 755 \"$d\"; USERCTL_BOARD_DIR=$d userctl show user_list 2>err;"
          " sh -c \"$(sed -n 's/.* in its place: //p' err)\"; USERCTL_BOARD_DIR=$d userctl show user_list;"
          ' rm -r err "$d" "$d.aside"')
FRESH_TAKEN = "move away what holds @DIR@.fresh, then run the command again for its remedy"
OPEN_DIR = ("writable by group or others, who may have renamed or removed its files, and " + HELD + ": check that users"
            " holds the accounts event.log records, then, " + ROOT_REPLACES)
OWNED = ("owned by uid 65534, not by uid 0 that runs the command; set USERCTL_BOARD_DIR to a directory of your own, or"
         " move it aside (the board makes a new one)")
# A state directory named to forge a line on the console and drive the terminal: the name is shown escaped, the C1
# controls (U+0080 to U+009F) too, not the character after them (U+00A0).
FORGED = ("d=$(printf 'x\\nUser addition was completed.\\033[1m\\302\\233\\302\\200\\302\\237\\302\\240');"
          " mkdir \"$d\"; chown 65534 \"$d\"; USERCTL_BOARD_DIR=$PWD/$d userctl show user_list; s=$?; rmdir \"$d\";"
          " exit $s")
FORGED_SHOWN = REFUSED.format("@DIR@/x\\nUser addition was completed.\\x1b[1m\\xc2\\x9b\\xc2\\x80\\xc2\\x9f\u00a0",
                              OWNED) + FAILED
NOBODY = 7654321  # a uid without a name, nor a home
NO_DIR = ("board: no state directory: USERCTL_BOARD_DIR is unset, XDG_STATE_HOME and HOME are unset or relative,"
          f" and uid {NOBODY} has no home directory; set USERCTL_BOARD_DIR to an absolute path\n{FAILED}")


def cores(words, typed):
    # userctl with words under gdb, for environments of 0 to 15 more bytes: typed is given, and once the question shows
    # the test interrupts userctl (gdb stops it there, and takes a core) before it answers y; its exit is caught for a
    # second core, as the process leaves none itself. Each line: the password's copies in the memory of each (its
    # loaded segments, not the registers), at the exit, then at the question, its first letter left out (clearing a
    # short string overwrites that alone).
    return ("mem() { readelf -lW $1 | awk '$1 == \"LOAD\" {print $2, $5}' | while read o s; do tail -c +$((o + 1)) $1 |"
            " head -c $((s)); done | grep -ao ecret#12 | wc -l; }; c=$(mktemp -d); for n in 0 5 10 15; do"
            " pad=$(head -c $n /dev/zero | tr '\\0' x); mkfifo $c/in; PAD=$pad gdb -nx -batch -ex 'catch syscall"
            " exit_group' -ex run -ex 'gcore '$c/ask -ex continue -ex \"gcore $c/exit\" --args \"$USERCTL_BIN\""
            f" {words} <$c/in >$c/out 2>&1 & exec 4>$c/in; printf '{typed}' >&4; until grep -qs 'Y/N' $c/out; do"
            " sleep 0.01; done; kill -INT $(pgrep -P $!); until grep -qs 'Saved corefile' $c/out; do sleep 0.01;"
            " done; echo y >&4; exec 4>&-; wait $!; echo $(mem $c/exit) $(mem $c/ask); rm -f users *.log $c/*;"
            " rm -r locks; done; rmdir $c")


WORDS = "add user alice_123 Secret#12 Secret#12 admin"
# Installed set-user-ID root, run by another user with no words, a word no command takes, and a word too many.
SET_UID = ('t=$(mktemp -d); chmod 755 $t; cp "$USERCTL_BIN" $t/u; chmod 4755 $t/u; for w in "" help "show user_list'
           ' extra"; do setpriv --reuid=65534 --regid=65534 --clear-groups $t/u $w; echo $?; done; rm -r $t')
PRIVILEGED = ("board: userctl runs with privileges its caller lacks (set-user-ID, set-group-ID or file capabilities),"
              " but the simulated board takes its state directory and faults from the caller's environment; install"
              " userctl without them\n")
# A utmp entry: its type (7 a live login, 8 an ended one), pid, user, terminal and host.
LOGGED_IN = "[{}] [{:>05}] [ts/0] [{}] [{}] [{}] [] [2026-12-06T12:00:00,000000+00:00]\n"
ANN = [LOGGED_IN.format(7, 1, "eve", "pts/999", "10.9.9.9"), LOGGED_IN.format(7, 1, "ann", "@TTY@", "10.1.2.3")]
ENDED = [LOGGED_IN.format(8, 1, "ann", "@TTY@", "10.1.2.3")]  # a session that ended on the terminal
NO_PID = [LOGGED_IN.format(7, 0, "ann", "@TTY@", "10.1.2.3")]  # an entry naming no process
REUSED = [LOGGED_IN.format(7, "@OTHER@", "eve", "@TTY@", "10.9.9.9")]  # its pid now another user's process
# With every descriptor elsewhere, run as a command whose name would read as fields of its own in /proc/self/stat.
HIDDEN = ('c=") R 1 1 1 1"; ln -s "$USERCTL_BIN" "$c"; USERCTL_BIN=$PWD/$c; '
          f'userctl {CE} </dev/null >/dev/null 2>&1; s=$?; rm "$c"; exit $s')
ATTACK = "chown 65534 .; chmod 777 .; ln -s $v/rc trace.log; ln -s $v/new locks"
ATTACKED = REFUSED.format("@DIR@", OWNED) + ADD_FAILED
TWIN = f"umask 077; : >event.log; ln event.log twin; userctl {CE}; s=$?; rm twin; exit $s"  # event.log of two names
# In the background at a terminal set to stop a background writer; killed if stopped.
TOSTOP = f'stty tostop; timeout -s KILL 20 $LAUNCH "$USERCTL_BIN" {CE} 2>&1; echo $?'
UMASK = f"umask 277; USERCTL_BOARD_DIR=$PWD/new userctl {CE}; cd new; stat -c '%a %n' . *; cd ..; rm -r new"
# The question asked where it cannot be written, the reply "y": declined, the reply left unread.
UNWRITABLE = ("mkfifo p; exec 4<>p 5>p 4<&-; rm p; printf 'y\\nleft\\n' | { timeout 20 $LAUNCH \"$USERCTL_BIN\""
              " add user alice_123 Secret#12 Secret#12 ce >&5; echo $?; cat; }")
# The question to a full pipe left non-blocking, which is read once userctl sleeps, waiting for room.
FULL_PIPE = ("{ python3 -c 'import os; os.set_blocking(1, False); os.write(1, b\"x\" * 65536)'; printf 'y\\n' |"
             ' { $LAUNCH "$USERCTL_BIN" add user alice_123 Secret#12 Secret#12 operator <&3 3<&- & echo $! >pid;'
             " wait; } 3<&0; } | { until grep -qs '^[0-9]* ([^)]*) S' /proc/$(cat pid 2>/dev/null)/stat; do"
             " sleep 0.01; done; tr -d x; }; rm pid")
TYPED = dict(stdin="y\r", out=Q + "y\r\n", events=AT_TTY)  # y and Enter at a terminal
# The state directory's refusals, and other messages of this section.
NOWHERE_LINK = "@DIR@/link, on its path, leads nowhere; set USERCTL_BOARD_DIR to the directory itself"
RELATIVE = REFUSED.format(".", "a relative path; give USERCTL_BOARD_DIR as an absolute path") + FAILED
ROOT_DIR = REFUSED.format("/", "the root directory" + OWN) + FAILED
NO_HOME = (REFUSED.format("/nonexistent/.local/state/userctl/board", "/nonexistent: Permission denied" + ELSEWHERE)
           + FAILED)
# A state directory its user may not write: no lock for the store, nor for the trace log, of uid 65534's.
NO_LOCKS = f"board: @DIR@/trace.log: cannot write: @DIR@/locks: Permission denied\n{ADD_FAILED}"
LOCKS_OPEN = "board: @DIR@/trace.log: cannot write: @DIR@/locks: open to group or others" + LOCKS_REMADE + "\n"
NOT_TRACED = "board: @DIR@/trace.log: cannot write: owned by uid 65534" + REMOVE + "\n" + FAILED
TOO_BIG = STORE + ": one more account would pass the 33554432 bytes a store may hold"
# On big's store, carol_123's add is refused; without its last line, alice_123's add, which would fill it again, fails
# only at writing it, past a file-size limit of 5120 bytes.
FILLED = f"userctl {CAROL}; truncate -s -88 users; (ulimit -f 10; userctl {CE})"
FILLED_TRACE = [TOO_BIG, failed(CAROL), STORE + ".new: cannot write: File too large", failed(CE)]
BIG = [f"big_{i:05d}:3:0" for i in range(64)]  # the store then, as the store column shows it
# 41 links in a row, one past the most.
LINKS_41 = "ln -s . l41; for i in $(seq 40); do ln -s l$((i + 1)) l$i; done"
OWN_LOG = planted("trace.log")  # a trace.log of another user's
# A board.conf of root's, in an editor's mode, read by another user: trusted (then removed, being no 0600 file).
EDITED = lambda board: os.chmod(board + "/board.conf", 0o644)
ROOTS_READ = "userctl show user_list; s=$?; rm board.conf; exit $s"
NULL = lambda board: os.mknod(board + "/event.log", 0o20600, os.makedev(1, 3))  # an event.log as /dev/null
# A long first word that drives a terminal, under memory limits about where the program starts to run at all: the runs
# that aborted, then the raw bytes that reached the console.
LOW_MEMORY = ("w=$(printf 'x\\033]2;t\\007\\033[2J%.0s' $(seq 3000)); a=0; for v in $(seq 2500 50 4000); do"
              ' (ulimit -v $v; exec $LAUNCH "$USERCTL_BIN" "$w") 2>>err >/dev/null; [ $? = 134 ] && a=$((a + 1)); done;'
              " echo $a $(tr -dc '\\033\\007' <err | wc -c); rm err")
# A hard link to the store (a backup), then the remedy the refusal gives, followed: the accounts kept.
LINKED = ("ln users ../kept-$$; userctl show user_list; install -m 600 -o 0 users users.copy && mv users.copy users;"
          " userctl show user_list; rm ../kept-$$")
LINKED_LINE = STORE + ": cannot read: has 2 hard links;" + COPY.format("users")
LINKED_TOLD, LINKED_TRACE = LINKED_LINE + "\n" + FAILED, [LINKED_LINE, SHOW_THROWN, SHOWN]
KEPT, KEPT_SHOWN = ["zeta_user:3:0", "alice_123:1:0"], HEADER + ORDER_SHOWN
FD_LIMIT = "board: @DIR@: cannot open: Too many open files; raise the limit on open files (ulimit -n)\n" + FAILED
# The board's user uid 65534 (n runs a command as that user) in a state directory of theirs; userctl so run.
AS_BOARD = ('chown 65534:65534 .; n() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; };'
            ' u() { n $LAUNCH "$USERCTL_BIN" "$@"; };')
# The state directory missing while its private copy waits beside it: no fresh board made in its place; the replacement
# finished as printed, then a list; then root removes what is aside.
HALF_REPLACED = ('mkdir -m 700 "$PWD.fresh"; mv -T "$PWD" "$PWD.aside"; userctl show user_list 2>err; cat err >&2;'
                 " sh -c \"$(sed -n 's/.*finish it: //p' err)\"; userctl show user_list; rm -r \"$PWD.aside\"")
HALF_TOLD = REFUSED.format("@DIR@", "missing, but @DIR@.fresh, a directory of yours, is there: a private copy put in"
                           " its place was interrupted, or is under way; once no command runs, finish it: mv -T"
                           " @DIR@.fresh @DIR@") + FAILED
# Another user, who could read the board user's state directory b (in a directory of the board user's, who may then
# replace it), holds its flock, the store's lock, through a descriptor that waits in a socket's queue, where no tool
# shows it; the add refused, the remedy it prints run by the board's user, then the add, then b's accounts.
HOLDER = ("import fcntl, os, signal, socket; d = os.open('.', os.O_RDONLY); fcntl.flock(d, fcntl.LOCK_EX);"
          " a, b = socket.socketpair(); socket.send_fds(a, [b'x'], [d]); os.close(d); signal.pause()")
HELD_BY_OTHER = (f"{AS_BOARD} umask 077; chmod 711 .; mkdir -m 755 b; printf 'bob_12345:3:0:!\\n' >b/users;"
                 " chown -R 65534 b; export USERCTL_BOARD_DIR=$PWD/b; cd b; setpriv --reuid=7654321 --regid=7654321"
                 f' --clear-groups python3 -c "{HOLDER}" & until grep -q ":$(stat -c %i .) " /proc/locks; do sleep'
                 f" 0.01; done; u {CE} 2>err; cat err >&2; n sh -c \"$(sed -n 's/.* in its place: //p' err)\";"
                 f" u {CE}; kill $!; wait $! 2>/dev/null; cd ..; cut -d: -f1 b/users; rm -r b b.aside")
BOARD_REPLACES = ("while no command runs, as uid 65534 or root, put a private copy in its place: chmod 700 @DIR@/b &&"
                  " mkdir -m 700 @DIR@/b.fresh && chown 65534 @DIR@/b.fresh && find @DIR@/b/ -maxdepth 1 -type f"
                  " -links 1 '(' -user 65534 -o -user 0 ')' " + FILES + " -exec cp -p -t @DIR@/b.fresh {} + && mv -T"
                  " @DIR@/b @DIR@/b.aside && mv -T @DIR@/b.fresh @DIR@/b")
HELD_TOLD = REFUSED.format("@DIR@/b", READ_DIR + BOARD_REPLACES) + ADD_FAILED + ADDED
# Its store readable by others, its remedy run by root: the copy stays the board user's.
ROOT_COPIES = (f"{AS_BOARD} chown 65534 users; chmod 640 users; u show user_list;"
               " install -m 600 -o 65534 users users.copy && mv users.copy users; u show user_list")
ROOT_COPIES_LINE = STORE + ": cannot read: " + READABLE + COPY.format("users").replace("-o 0", "-o 65534")
ROOT_COPIED, ROOT_TRACE = ROOT_COPIES_LINE + "\n" + FAILED, [ROOT_COPIES_LINE, SHOW_THROWN, SHOWN]
# What uid 7654321 left in a state directory once open to all, a directory holding a file of theirs, then chmod 700 as
# its remedy says; its remedy followed by the board's user, then the add; then root removes what was moved aside.
# The add, its aside remedy run as printed by the board's user, the add again.
AS_PRINTED = f"u {CE} 2>err; cat err >&2; n sh -c \"$(sed -n 's/.*: mv -T/mv -T/p' err)\"; u {CE}; rm err;"
# What uid 7654321 left in a state directory once open to all, a directory holding a file of theirs (and at its name
# .aside what taken makes), then chmod 700 as its remedy says; the add and its remedy; then root removes what is aside.
LEFT = lambda name, taken=":": ("chmod 777 .; setpriv --reuid=7654321 --regid=7654321 --clear-groups sh -c"
                                f" 'mkdir -m 700 {name}; : >{name}/x; {taken}'; chmod 700 .; {AS_BOARD} {AS_PRINTED}"
                                f" rm -r {name}.aside*")
LOCKS_LEFT = "owned by uid 7654321; move it aside, and the board makes a new one: mv -T locks locks.aside"
LOCKS_LEFT_TOLD = f"board: @DIR@/trace.log: cannot write: @DIR@/locks: {LOCKS_LEFT}\n"
LOG_LEFT_TOLD = ("board: @DIR@/trace.log: cannot write: a directory owned by uid 7654321; move it aside:"
                 " mv -T trace.log trace.log.aside\n")
# Its name .aside taken by uid 7654321 (a file; a directory not empty; a link to a directory of theirs): the next name.
FILE_ASIDE, DIR_ASIDE = ": >trace.log.aside", "mkdir locks.aside; : >locks.aside/y"
LINK_ASIDE = "mkdir -m 777 locks.aside.d; ln -s locks.aside.d locks.aside"
LOG_ASIDE_2 = ("board: @DIR@/trace.log: cannot write: a directory owned by uid 7654321; move it aside:"
               " mv -T trace.log trace.log.aside.2\n" + ADD_FAILED + ADDED)
LOCKS_ASIDE_2 = ("board: @DIR@/trace.log: cannot write: @DIR@/locks: owned by uid 7654321; move it aside, and the board"
                 " makes a new one: mv -T locks locks.aside.2\n" + ADD_FAILED + ADDED)
# A locks of the board user's that others could write, holding what uid 7654321 left: moved aside too.
OPEN_LOCKS = ("chmod 711 .; mkdir -m 777 locks; setpriv --reuid=7654321 --regid=7654321 --clear-groups sh -c"
              " 'mkdir -m 700 locks/d; : >locks/d/x'; chmod 700 .; chown 65534 locks;"
              f" {AS_BOARD} {AS_PRINTED} rm -r locks.aside")
OPEN_LOCKS_TOLD = LOCKS_LEFT_TOLD.replace("owned by uid 7654321", "open to group or others")
BOARDS = [event(N, login="nobody")]  # the add's event, by the board's user
# trace.log's lock file hard-linked by a backup: its remedy, then the add.
LOCK_LINKED = (f"umask 077; mkdir locks; : >locks/trace.log; ln locks/trace.log ../kept-$$; userctl {CE};"
               f" rm locks/trace.log; userctl {CE}; rm ../kept-$$")
LOCK_LINKED_TOLD = ("board: @DIR@/trace.log: cannot write: @DIR@/locks/trace.log: has 2 hard links; remove it, a lock"
                    " that holds no data, while no command runs: rm locks/trace.log\n" + ADD_FAILED + ADDED)
# An add in a session whose controlling terminal is a serial line.
SERIAL = "/dev/ttyS0"
ON_SERIAL = f'setsid -w -c $LAUNCH "$USERCTL_BIN" {CE} <{SERIAL}'
HOSTILE = [
    # A console or log that cannot be written fails that write alone; a log line is whole or absent.
    ok(CE, "alice_123:4:0", sh=f"mkfifo p; exec 4<>p 5>p 4<&-; rm p; userctl {CE} 2>&5", err=""),
    ok(CE, "alice_123:4:0", sh=BIG_LOG, out=done(CE) + "\n", trace=[]),  # trace.log past 2 GiB
    unrecorded("trace.log", "File too large", *["x" * 13] * 100, sh=FILL),
    # Not dumpable: no core file, no memory readable by its own user. A non-blocking input waited on.
    c(add("operator"), tty=True, uid=65534, stdin=SIGQUIT, status=-SIGQUIT, out=Q),
    ok(add("operator"), "alice_123:2:0", tty="nonblocking", **TYPED),
    # Only a state directory of the user's own that no one else can write or read, reached through directories
    # and links of root's or the user's, each judged as opened; only regular files in it, no link followed there.
    untrusted("chmod 720 .", OPEN_DIR, "chmod 700 ."),
    untrusted("chmod 704 .", READ_DIR + ROOT_REPLACES, "chmod 700 ."),
    untrusted("chmod 704 .; mkdir $PWD.fresh", READ_DIR + FRESH_TAKEN, "chmod 700 .; rmdir $PWD.fresh"),
    c(SHOW, sh=QUOTED, status=0, out=HEADER),
    c(CE, sh=HELD_BY_OTHER, status=0, out="bob_12345\nalice_123\n", err=HELD_TOLD),
    c(SHOW, sh=HALF_REPLACED, status=0, out=HEADER, err=HALF_TOLD, trace=[SHOWN]),
    used("//"),
    used("/../${PWD##*/}"),
    used("/l1", "ln -s . l40; for i in $(seq 39); do ln -s l$((i + 1)) l$i; done", "rm l[0-9]*"),  # 40 links, the most
    untrusted(LINKS_41, "@DIR@/l41: Too many levels of symbolic links" + ELSEWHERE, "rm l[0-9]*", "/l1"),
    untrusted("mkdir d; : >f", "@DIR@/f: Not a directory" + ELSEWHERE, "rm -r d f", "/d/../f/b"),  # .. named as left
    fails(SHOW, sh=CANNOT_MAKE, uid=65534, err=REFUSED.format("@DIR@/new", "Permission denied" + ELSEWHERE) + FAILED),
    untrusted("mkdir o; chown 65534 o", OTHERS.format("o"), "rm -r o", "/o/.."),  # one left too is judged
    untrusted("mkdir -m 775 w", OPEN_ON_PATH, "rm -r w", "/w/d"),  # not sticky: another could rename what is in it
    # A root link through another user's directory: they could swap what it leads to for a link to /etc.
    untrusted("mkdir -p o/d; chown 65534 o; ln -s o/d link", OTHERS.format("o"), "rm -r o link", "/link/d"),
    # Another user's link in a sticky directory, dangling: as if made there between a look and a mkdir.
    untrusted("mkdir -m 1777 s; ln -s $PWD/x s/d; chown -h 65534 s/d", OTHERS.format("s/d"), "rm -r s", "/s/d/d"),
    untrusted("ln -s $PWD/missing link", NOWHERE_LINK, "rm link", "/link"),  # nothing made where it points
    fails(SHOW, sh=FORGED, err=FORGED_SHOWN),
    fails(SHOW, sh="USERCTL_BOARD_DIR=. userctl show user_list", err=RELATIVE),
    fails(SHOW, sh="USERCTL_BOARD_DIR=// userctl show user_list", err=ROOT_DIR),
    untrusted("chmod 1777 .", "shared by every user (sticky)" + OWN, "chmod 700 ."),  # never made private
    # Without HOME, the home the passwd database gives: nobody's is /nonexistent, which is not to be made.
    fails(SHOW, sh="unset USERCTL_BOARD_DIR XDG_STATE_HOME HOME; userctl show user_list", uid=65534, err=NO_HOME),
    # What memory keeps of a password, whatever the environment's size moves the stack by: nothing at the exit,
    # and at the question only the request's two fields (each line: the copies at the exit, then at the question).
    c([], sh=cores(WORDS, ""), status=0, out="0 2\n" * 4, not_under=NATIVE_ONLY),
    c([], sh=cores(DASHES, "Secret#12\\nSecret#12\\n"), status=0, out="0 2\n" * 4, not_under=NATIVE_ONLY),
    # Installed set-user-ID root, it would take another user's environment: refused before any word is judged.
    c([], sh=SET_UID, status=0, out="3\n" * 3, err=PRIVILEGED * 3, not_under=("qemu", "memcheck")),  # these ignore it
    fails(SHOW, sh="unset USERCTL_BOARD_DIR XDG_STATE_HOME; HOME=. userctl show user_list", uid=NOBODY, err=NO_DIR),
    fails(SHOW, sh="ulimit -n 4; userctl show user_list", err=FD_LIMIT, not_under=NATIVE_ONLY),  # no fault of the dir
    c([], sh=LOW_MEMORY, status=0, out="0 0\n", not_under=NATIVE_ONLY),  # nothing raw, no abort
    # The login is the controlling terminal's, whatever descriptors 0-2 are; not one a process only holds open.
    ok(CE, "alice_123:4:0", tty=True, utmp=ANN, sh=HIDDEN, err="", events=[event(N, "10.1.2.3", "ann")]),
    ok(add("operator"), "alice_123:2:0", tty="not controlling", stdin="y\r", out=Q + "y\r\n"),
    ok(add("operator"), "alice_123:2:0", tty=True, utmp=ENDED, **TYPED),
    ok(add("operator"), "alice_123:2:0", tty=True, utmp=NO_PID, **TYPED),
    ok(add("operator"), "alice_123:2:0", tty=True, utmp=REUSED, **TYPED),  # an entry counts for its process's heirs
    # A terminal that is no pseudo-terminal, a serial line, is named as the kernel names its device.
    ok(CE, "alice_123:4:0", sh=ON_SERIAL, needs=SERIAL, events=[event(N, "ttyS0")]),
    fails(CE, sh=victim(ATTACK), out="rc\n# rc\n", err=ATTACKED),
    unrecorded("trace.log", "a symbolic link" + REMOVE, sh=victim("ln -s $v/rc trace.log"), out="rc\n# rc\n"),
    # Only files of root's or the user's, with one link, that others may not write (nor read, the store's).
    distrusted(SHOW, "users", "not a regular file" + REMOVE, setup=lambda d: os.mkfifo(d + "/users")),
    distrusted(SHOW, "users", "a symbolic link" + REMOVE, setup=lambda d: os.symlink("x", d + "/users")),
    distrusted(SHOW, "users", "owned by uid 65534" + REMOVE, users=TWO, setup=planted("users")),
    distrusted(SHOW, "users", READABLE + COPY.format("users"), users=TWO, sh=with_mode(640, "users")),
    c(SHOW, users=ORDER, sh=LINKED, status=0, out=KEPT_SHOWN, err=LINKED_TOLD, trace=LINKED_TRACE, store=KEPT),
    c(SHOW, users=ORDER, sh=ROOT_COPIES, status=0, out=KEPT_SHOWN, err=ROOT_COPIED, trace=ROOT_TRACE, store=KEPT),
    ok(CE, "alice_123:4:0", sh=LOCK_LINKED, err=LOCK_LINKED_TOLD),
    ok(CE, "alice_123:4:0", sh=LEFT("locks"), err=LOCKS_LEFT_TOLD + ADD_FAILED + ADDED, events=BOARDS),
    ok(CE, "alice_123:4:0", sh=LEFT("trace.log"), err=LOG_LEFT_TOLD + ADD_FAILED + ADDED, events=BOARDS),
    ok(CE, "alice_123:4:0", sh=LEFT("trace.log", FILE_ASIDE), err=LOG_ASIDE_2, events=BOARDS),
    ok(CE, "alice_123:4:0", sh=LEFT("locks", DIR_ASIDE), err=LOCKS_ASIDE_2, events=BOARDS),
    ok(CE, "alice_123:4:0", sh=LEFT("locks", LINK_ASIDE), err=LOCKS_ASIDE_2, events=BOARDS),
    c(SHOW, setup=planted("trace.log", os.mkdir, 7654321), status=0, out=HEADER, err=LOG_LEFT_TOLD),  # its line lost
    ok(CE, "alice_123:4:0", sh=OPEN_LOCKS, err=OPEN_LOCKS_TOLD + ADD_FAILED + ADDED, events=BOARDS),
    distrusted(SHOW, "board.conf", WRITABLE + COPY.format("board.conf"), conf="max_users = 5\n", sh=with_mode(602)),
    c(SHOW, uid=65534, conf="max_users = 5\n", setup=EDITED, sh=ROOTS_READ, status=0, out=HEADER, trace=[SHOWN]),
    # Whoever can open a file the board locks can hold its lock: those files are as private as the store.
    c(SHOW, sh="mkdir -m 755 locks; userctl show user_list", status=0, out=HEADER, err=LOCKS_OPEN),  # its line lost
    unrecorded("trace.log", READABLE + COPY.format("trace.log"), sh=": >trace.log; " + with_mode(644, "trace.log", CE)),
    fails(SHOW, faults="list=fail", setup=OWN_LOG, err=NOT_TRACED),  # 2 lines lost, told once
    # No account stored without its record: the logs judged, room for both lines made sure of before.
    unrecorded("event.log", "has 2 hard links;" + COPY.format("event.log"), traced=True, sh=TWIN),
    unrecorded("event.log", "not a regular file" + REMOVE, traced=True, setup=NULL),
    ok(CE, "alice_123:4:0", tty=True, sh=TOSTOP, out="User addition was completed.\r\n0\r\n", err="", events=AT_TTY),
    c([], sh=UMASK, status=0, err=ADDED, out="700 .\n600 event.log\n700 locks\n600 trace.log\n600 users\n"),
    # The store holds no more than the board reads back, and all of that; a failed write names its file.
    c([], users=big, sh=FILLED, status=3, err=FULL + ADD_FAILED, trace=FILLED_TRACE, store=BIG),
    fails(CE, f"board: login lookup failed: no login name for uid {NOBODY}", no_login(CE), uid=NOBODY),
    fails(CE, uid=65534, sh=f"chmod 500 .; userctl {CE}; s=$?; chmod 700 .; exit $s", setup=OWN_LOG, err=NO_LOCKS),
    c(add("ce"), sh=UNWRITABLE, status=0, out="0\ny\nleft\n"),
    ok(add("operator"), "alice_123:2:0", sh=FULL_PIPE, out=Q),
]

CASES = {"select": SELECT, "add": ADD_ROWS, "ask": ASK, "service": SERVICE, "together": TOGETHER, "show": SHOW_ROWS,
         "board": BOARD, "locks": LOCKS, "record": RECORD, "hostile": HOSTILE}
