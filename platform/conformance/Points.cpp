#include "Points.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Board.h"
#include "CGIRequester.h"
#include "CommonUtil.h"
#include "HalmTrace.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "PrimitiveTypeArray.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace kit {

namespace {

using HalmLib::Gui::CGIRequester;
using HalmLib::HalmUi::PartitionOperatorInfo;
using Users = HalmLib::Gui::UserList;
namespace serviceError = HalmLib::Gui::serviceError;

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// answer, a fresh command's, is ok and says expected.
Verdict answered(const Verdict& answer, const std::string& expected, const std::string& what) {
    if (!answer.ok()) return fail(what + ": " + answer.reason);
    return expect(answer.reason == expected, what + ": " + answer.reason + ", not " + expected);
}

struct SetRow {
    unsigned long mask;
    int partition;
    unsigned long expected;
};
const SetRow setRows[] = {
    {0x0, 0, 0x1},                      // the lowest partition
    {0x0, 1, 0x2},                      // partition n is bit n, not n + 1
    {0x0, 31, 0x80000000},              // the highest partition
    {0x1, 0, 0x1},                      // a bit already in the mask stays
    {0x5, 1, 0x7},                      // the other bits are kept
    {0x80000000, 30, 0xC0000000},       // next to the highest
    {0x0, -1, 0x0},                     // just below the range
    {0x0, 32, 0x0},                     // just past the range, where a 64-bit long has room
    {0x7, 33, 0x7},                     // past the range, the mask as it was
    {0xFFFFFFFF, INT_MIN, 0xFFFFFFFF},  // the most negative
    {0x0, INT_MAX, 0x0},                // the largest
};
struct ReportRow {
    unsigned long mask;
    int partition;
    bool expected;
};
const ReportRow reportRows[] = {
    {0x1, 0, true},           // the lowest partition
    {0x1, 1, false},          // partition n is bit n, not n - 1
    {0x2, 1, true},           // partition n is bit n, not n + 1
    {0x80000000, 31, true},   // the highest partition
    {0x7FFFFFFF, 31, false},  // every other bit set
    {0xFFFFFFFE, 0, false},   // every other bit set
    {0x0, 5, false},          // an empty mask
    {~0ul, -1, false},        // just below the range, every bit set
    {~0ul, 32, false},        // just past the range, every bit a long has set
    {~0ul, INT_MIN, false},   // the most negative
    {~0ul, INT_MAX, false},   // the largest
};

Verdict setRowsHold(bool outside) {
    Platform<PartitionOperatorInfo> info;
    for (const SetRow& row : setRows) {
        if ((row.partition < 0 || row.partition > 31) != outside) continue;
        const unsigned long got = info->setOperablePartition(row.mask, row.partition);
        if (got != row.expected)
            return fail(format("setOperablePartition(0x%lx, %d) gave 0x%lx, not 0x%lx", row.mask, row.partition, got,
                               row.expected));
    }
    return pass();
}

Verdict reportRowsHold(bool outside) {
    Platform<PartitionOperatorInfo> info;
    for (const ReportRow& row : reportRows) {
        if ((row.partition < 0 || row.partition > 31) != outside) continue;
        const int got = info->isOperablePartition(row.mask, row.partition);
        if ((got != 0) != row.expected)
            return fail(format("isOperablePartition(0x%lx, %d) gave %d", row.mask, row.partition, got));
    }
    return pass();
}

int partitionCount() {
    return call([] { return CommonUtil::getMaxPartitionNum(); });
}

Verdict partitionCountStable(unsigned calls, long withinMs) {
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int first = partitionCount();
    for (unsigned i = 1; i < calls; ++i) {
        const int again = partitionCount();
        if (again != first) return fail(format("call %u gave %d, the first %d", i + 1, again, first));
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const long tookMs = (end.tv_sec - start.tv_sec) * 1000L + (end.tv_nsec - start.tv_nsec) / 1000000L;
    return expect(tookMs < withinMs, format("%u calls took %ld ms, not under %ld ms", calls, tookMs, withinMs));
}

// A text of length characters whose NUL ends a page, put to the trace log.
Verdict traceText(std::size_t length, bool lineFeed) {
    Platform<HalmLib::trace::HalmTrace> trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel,
                                              HalmLib::trace::cliLineSize);
    GuardedBytes text(length + 1);
    for (std::size_t i = 0; i < length; ++i) text.text()[i] = static_cast<char>('a' + i % 26);
    if (lineFeed) text.text()[length - 1] = '\n';
    trace->putLog(0, length == 0 ? nullptr : text.text());
    return pass();
}

using Format = char* (*)(char* buffer, const char* insert);
// Every insert is 1000 characters, the buffer the 256 bytes that end a page.
struct MessageRow {
    const char* number;
    Format call;
};
const MessageRow messageRows[] = {
    {"10046", [](char* b, const char* t) { return lmsg_getmsg(lmsgNumber::commandCompleted, b, t); }},
    {"10047", [](char* b, const char* t) { return lmsg_getmsg(lmsgNumber::commandFailed, b, t, 20019, 1537); }},
    {"10092", [](char* b, const char* t) { return lmsg_getmsg(lmsgNumber::accountEvent, b, t, t); }},
    {"20003", [](char* b, const char* t) { return lmsg_getmsg(lmsgNumber::callFailed, b, t); }},
    {"an unknown number", [](char* b, const char* t) { return lmsg_getmsg(999999, b, t); }},
};

Verdict messageFits(Format message) {
    GuardedBytes buffer(lmsgBufferSize);
    std::memset(buffer.data(), 'x', lmsgBufferSize);
    GuardedBytes insert(1001);
    std::memset(insert.data(), 'i', 1000);
    const char* got = call([&] { return message(buffer.text(), insert.text()); });
    if (got != buffer.text()) return fail("the buffer was not returned");
    return expect(std::memchr(buffer.data(), 0, lmsgBufferSize) != nullptr, "no NUL within the 256 bytes");
}

int eventEntry(long length, const char* text, const Who& who) {
    return call([&] {
        return HalmLib::Report::llog_putHalmLog(length, text, 1, who.login.c_str(), who.origin.c_str(), "0xFF");
    });
}

Verdict eventWithoutNul() {
    static const char entry[] = "userctl-conformance: an event entry read to its length";
    const std::size_t length = sizeof entry - 1;
    GuardedBytes text(length);
    std::memcpy(text.data(), entry, length);
    const int result = eventEntry(static_cast<long>(length), text.text(), whoRuns());
    return expect(result == 0, format("llog_putHalmLog gave %d, not 0", result));
}

// Entries of empty texts: a length of 0 or less, a null text, null names.
Verdict emptyEntries() {
    const Who who = whoRuns();
    const char* const text = "userctl-conformance: an empty entry";
    for (const long length : {0L, -1L, LONG_MIN}) {
        const int result = eventEntry(length, text, who);
        if (result != 0) return fail(format("a length of %ld gave %d, not 0", length, result));
    }
    if (const int result = eventEntry(10, nullptr, who); result != 0)
        return fail(format("a null text gave %d", result));
    const int result = call([&] { return HalmLib::Report::llog_putHalmLog(5, text, 1, nullptr, nullptr, nullptr); });
    return expect(result == 0, format("a null login, origin and code gave %d, not 0", result));
}

// A receiver that records what getInfo hands it.
class Recorder : public HalmLib::SerializableObject {
public:
    explicit Recorder(bool takes) : takes(takes) {}
    unsigned int getSerialized(unsigned char* /*buffer*/, unsigned int /*size*/) const override { return 0; }
    unsigned int getSerializedSize() const override { return 0; }
    bool setSerialized(const unsigned char* data, unsigned int size) override {
        ++calls;
        payload.assign(data, data + size);
        return takes;
    }

    const bool takes;
    unsigned calls = 0;
    std::vector<unsigned char> payload;
};

Verdict listWellFormed(const std::vector<unsigned char>& payload) {
    if (payload.size() < Users::countSize) return fail(format("a reply of %zu bytes has no count", payload.size()));
    const std::size_t count = (std::size_t{payload[0]} << 8) | payload[1];
    if (payload.size() < Users::countSize + sizeof(CGI_USER_INFO) * count)
        return fail(format("%zu bytes are too few for a count of %zu", payload.size(), count));
    CGI_USER_INFO record;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(&record, payload.data() + Users::countSize + sizeof record * i, sizeof record);
        if (record.getPrivilege() < privilegeCode::admin || record.getPrivilege() > privilegeCode::partitionOperator)
            return fail(format("record %zu has privilege %u", i, static_cast<unsigned>(record.getPrivilege())));
        if (record.user_name[0] == '\0') return fail(format("record %zu has no name", i));
    }
    return pass();
}

Verdict listThroughReceiver(bool takes) {
    Platform<CGIRequester> requester;
    Recorder receiver(takes);
    const int result = requester->getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, receiver);
    const std::int32_t code = requester->errorCode;
    if (!takes) return expect(result == 0 && code != 0, format("gave %d with errorCode %d", result, code));
    if (result == 0) return fail(format("the list was refused with %d", code));
    if (receiver.calls != 1) return fail(format("setSerialized was called %u times, not once", receiver.calls));
    if (code != 0) return fail(format("errorCode %d after a success, not 0", code));
    return listWellFormed(receiver.payload);
}

// An add of size bytes, a record's first or a record and a zero byte, which
// ends a page.
Verdict wrongSizeRefused(unsigned size, unsigned counter) {
    const std::string name = accountName(counter);
    GuardedBytes data(size);
    CGI_USER_INFO record = makeRecord(name, privilegeCode::user, 0);
    std::memcpy(data.data(), &record, std::min<std::size_t>(size, sizeof record));
    explicit_bzero(&record, sizeof record);
    if (!named(name)) return fail("the account's name could not be reported: not added");
    Platform<CGIRequester> requester;
    const int result = requester->setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, size, data.data());
    const std::int32_t code = requester->errorCode;
    explicit_bzero(data.data(), size);
    if (result != 0 || code == 0) return fail(format("gave %d with errorCode %d", result, code));
    return answered(ask("list", name), "absent", "a fresh command's list");
}

// An add that had to store its account: skipped on a full board, else ok.
Verdict stored(const Verdict& added) {
    if (added.kind == Verdict::Kind::skipped || added.reason == "added") return added;
    return fail("the add: " + added.reason);
}

// One account of each privilege, each added and listed by fresh commands:
// the partition operator's with the lowest and highest partitions and a name
// of 32 characters.
Verdict eachPrivilegeListed() {
    // Kept within the mask, whatever count a board that breaks its promise gives.
    const int partitions = std::clamp(partitionCount(), 1, PartitionOperatorInfo::maskWidth);
    const unsigned long operable = 1ul | 1ul << (partitions - 1);
    for (std::uint32_t privilege = privilegeCode::admin; privilege <= privilegeCode::partitionOperator; ++privilege) {
        const bool partitionOperator = privilege == privilegeCode::partitionOperator;
        const std::string name = partitionOperator ? longName(20) : accountName(20 + privilege);
        const unsigned long mask = partitionOperator ? operable : 0;
        const std::string expected = format("listed %u %lu", static_cast<unsigned>(privilege), mask);
        const Verdict added = stored(ask("add", format("%s %u %lu", name.c_str(), privilege, mask)));
        if (!added.ok()) return added;
        if (const Verdict listed = answered(ask("list", name), expected, name + ", a fresh command's list");
            !listed.ok())
            return listed;
    }
    return pass();
}

Verdict hiddenUntilRecorded() {
    const std::string name = accountName(2);
    AddPlan plan;
    plan.beforeEntry = [&] { return answered(ask("list", name), "absent", "before the event entry, a fresh list"); };
    const Verdict added = stored(addAccount(name, plan));
    if (!added.ok()) return added;
    return answered(ask("list", name), "listed 3 0", "after the event entry, a fresh list");
}

// While name's add is open, the answers of fresh commands: a list without
// it, then others' adds, each returned within its bound and not told taken.
Verdict keptApart(const std::string& name, const std::vector<std::pair<const char*, std::string>>& adds) {
    const Verdict list = answered(ask("list", name), "absent", "while it is open, a fresh command's list");
    if (!list.ok()) return list;
    for (const auto& [word, account] : adds) {
        const Verdict answer = ask(word, account);
        const std::string what = "while it is open, a fresh command's add of " + account + ": ";
        if (answer.kind == Verdict::Kind::skipped) return answer;
        if (!answer.ok()) return fail(what + answer.reason);
        if (answer.reason == format("refused %d", serviceError::userExists)) return fail(what + "refused as taken");
        if (account == name && answer.reason == "added") return fail(what + "added a second time");
    }
    return pass();
}

// An add held open while fresh commands list and add, then recorded and listed.
Verdict contention(unsigned counter, const std::vector<std::pair<const char*, std::string>>& adds) {
    const std::string name = accountName(counter);
    AddPlan plan;
    plan.beforeEntry = [&] { return keptApart(name, adds); };
    const Verdict added = stored(addAccount(name, plan));
    if (!added.ok()) return added;
    return answered(ask("list", name), "listed 3 0", "once recorded, a fresh command's list");
}

// A second requester of the process, while the first's add is open.
Verdict secondRequesterRefused() {
    const std::string name = accountName(12), second = accountName(13);
    AddPlan plan;
    plan.beforeEntry = [&] {
        CGI_USER_INFO record = makeRecord(second, privilegeCode::user, 0);
        if (!named(second)) return fail("the account's name could not be reported: not added");
        Platform<CGIRequester> other;
        const int result = other->setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record, &record);
        explicit_bzero(&record, sizeof record);
        const std::int32_t code = other->errorCode;
        return expect(result == 0 && code != 0,
                      format("the second requester's add gave %d, errorCode %d", result, code));
    };
    const Verdict added = stored(addAccount(name, plan));
    if (!added.ok()) return added;
    const Verdict first = answered(ask("list", name), "listed 3 0", "the open add once recorded, a fresh list");
    return first.ok() ? answered(ask("list", second), "absent", "the second requester's account, a fresh list") : first;
}

// An add that ended without its event entry, as helper ends it, expected.
Verdict notStoredWithoutEntry(const char* helper, const std::string& expected, unsigned counter) {
    const std::string name = accountName(counter);
    const Verdict ended = ask(helper, name);
    if (ended.kind == Verdict::Kind::skipped) return ended;
    if (ended.reason != expected) return fail("the add: " + ended.reason + ", not " + expected);
    const Verdict absent = answered(ask("list", name), "absent", "once it ended, a fresh command's list");
    if (!absent.ok()) return absent;
    return stored(ask("add", name));
}

Verdict existingRefused() {
    const std::string name = accountName(8);
    const Verdict first = stored(ask("add", name));
    if (!first.ok()) return first;
    return answered(addAccount(name, {}), format("refused %d", serviceError::userExists), "the second add");
}

Verdict fullRefused(bool fill) {
    if (!fill) return skip("the board is filled only with --fill");
    for (unsigned counter = 1000; counter <= 1000 + Users::maxCount; ++counter) {
        const Verdict answer = ask("add", accountName(counter));
        if (answer.ok() && answer.reason == "added") continue;
        if (answer.kind != Verdict::Kind::skipped)
            return fail(format("after %u accounts, an add: ", counter - 1000) + answer.reason);
        // Refused with noMoreUsers.
        return counter == 1000 ? skip("the board was full already: " + answer.reason) : pass();
    }
    return fail(format("the board took %u accounts", Users::maxCount + 1));
}

Verdict exceptionAcross() {
    try {
        call([] { return Users()[0]; });
        return fail("an index out of range threw nothing");
    } catch (const HalmLib::PException& exception) {
        const int action = call([&] { return exception.getActionCode(); });
        const int detail = call([&] { return exception.getExceptionDetail(); });
        if (action != 1537 || detail != 20019) return fail(format("action %d and detail %d", action, detail));
    }
    // Thrown from within the library itself.
    Platform<HalmLib::PException> given(1, 80, 23296, 1, 1537, 20019, 0, 0, 0, 0, 0, 0, 0, 0);
    unsigned char buffer[1];
    try {
        (void)given->getSerialized(buffer, 0);
    } catch (const HalmLib::PException&) {
        return pass();
    }
    return fail("getSerialized into 0 bytes threw nothing");
}

Verdict loginAtTerminal() {
    // Both ends stay open until the child ends: closing them would hang up
    // the session, whose leader is the child itself.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return skip("no pseudo-terminal");
    const char* path = ptsname(master);
    if (!path || std::strncmp(path, "/dev/", 5) != 0 || setsid() < 0) return skip("no session of the kit's own");
    const std::string expected = path + 5;
    const int terminal = open(path, O_RDWR | O_NOCTTY);
    if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) return skip("no controlling terminal");
    std::string origin, login;
    const int result = call([&] { return UtmpUtil::getUserInfo(origin, login); });
    const std::string got = format("gave %d, login \"%s\", origin \"%s\", not \"%s\"", result, login.c_str(),
                                   origin.c_str(), expected.c_str());
    return expect(result == 0 && !login.empty() && origin == expected, got);
}

// One of each call, none of which changes the board's accounts; what each
// gives is other points' concern.
Verdict sequence() {
    Platform<HalmLib::trace::HalmTrace> trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel,
                                              HalmLib::trace::cliLineSize);
    char message[lmsgBufferSize];
    call([&] { return lmsg_getmsg(lmsgNumber::commandCompleted, message, "userctl-conformance sequence"); });
    trace->putLog(0, message);
    Platform<PartitionOperatorInfo> info;
    const int partition = partitionCount() - 1;
    const unsigned long mask = info->setOperablePartition(0, partition);
    (void)info->isOperablePartition(mask, partition);
    const Who who = whoRuns();
    Users users;
    Platform<CGIRequester> requester;
    (void)requester->getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users);
    Platform<CGIRequester> adder;
    const CGI_USER_INFO record{};
    (void)adder->setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record - 1, &record);
    static const char entry[] = "userctl-conformance: a sequence of calls";
    (void)eventEntry(static_cast<long>(sizeof entry - 1), entry, who);
    return pass();
}

std::vector<Point> partitionPoints() {
    const std::string count = "CommonUtil: getMaxPartitionNum ";
    return {
        {"PartitionOperatorInfo: setOperablePartition adds bit n for n 0..31", [] { return setRowsHold(false); }},
        {"PartitionOperatorInfo: isOperablePartition is nonzero exactly for a bit in the mask",
         [] { return reportRowsHold(false); }},
        {"PartitionOperatorInfo: a partition outside 0..31 is never set", [] { return setRowsHold(true); }},
        {"PartitionOperatorInfo: a partition outside 0..31 is never reported", [] { return reportRowsHold(true); }},
        {count + "is at least 1",
         [] {
             const int partitions = partitionCount();
             return expect(partitions >= 1, format("it gave %d", partitions));
         }},
        {count + "is the same at every call", [] { return partitionCountStable(100, LONG_MAX); }},
        {count + "65536 times takes well under the call bound",
         [] { return partitionCountStable(Users::maxCount + 1, HalmLib::callSeconds * 1000L / 4); }},
    };
}

std::vector<Point> tracePoints(const std::string& when) {
    const std::string put = "HalmTrace: putLog" + when + " ";
    return {
        {put + "takes a text of 255 characters", [] { return traceText(255, false); }},
        {put + "takes a text of 1000 characters", [] { return traceText(1000, false); }},
        {put + "takes a null text", [] { return traceText(0, false); }},
        {put + "takes a text ending in a line feed", [] { return traceText(30, true); }},
        {put + "reads no byte past the NUL that ends a page", [] { return traceText(40, false); }},
    };
}

std::vector<Point> textPoints() {
    std::vector<Point> all = tracePoints("");
    for (const MessageRow& row : messageRows) {
        all.push_back({std::string("lmsg: ") + row.number + " with 1000-byte inserts fits the 256 bytes of its buffer",
                       [&row] { return messageFits(row.call); }});
    }
    all.push_back({"llog: llog_putHalmLog reads no more than length bytes and returns 0", eventWithoutNul});
    all.push_back({"llog: a length of 0 or less and null texts are empty ones, and the entry returns 0", emptyEntries});
    return all;
}

std::vector<Point> requesterPoints() {
    const std::string req = "CGIRequester: ";
    return {
        {req + "errorCode is 0 before any request",
         [] { return expect(Platform<CGIRequester>()->errorCode == 0, "it is not"); }},
        {req + "getInfo fills a well-formed list through setSerialized once", [] { return listThroughReceiver(true); }},
        {req + "getInfo gives 0 and a nonzero errorCode when setSerialized refuses",
         [] { return listThroughReceiver(false); }},
        {req + "setInfo refuses 211 bytes, adds nothing, reads none past them",
         [] { return wrongSizeRefused(211, 6); }},
        {req + "setInfo refuses 213 bytes, adds nothing, reads none past them",
         [] { return wrongSizeRefused(213, 7); }},
        {req + "setInfo reads no byte past 212 and keeps no pointer to data",
         [] {
             AddPlan plan;
             plan.revokeData = true;
             return stored(addAccount(accountName(5), plan));
         }},
        {req + "an account of each privilege, one of a 32-character name, is listed back as it was sent",
         eachPrivilegeListed},
        {req + "an add is not listed before its event entry, and is listed after", hiddenUntilRecorded},
        {req + "an add killed before its event entry is not stored, and its name can be added again",
         [] { return notStoredWithoutEntry("add-killed", killedBy(SIGKILL), 3); }},
        {req + "an add whose requester is destroyed before its event entry is not stored",
         [] { return notStoredWithoutEntry("add-dropped", "dropped", 4); }},
        {req + "an add of an existing name is refused with userExists", existingRefused},
        {req + "while an add is open, other commands list without it and add others and its name, none told taken",
         [] {
             return contention(9, {{"add", accountName(10)}, {"add", accountName(9)}});
         }},
        {req + "while an add is open, another's add with SIGTERM pending and held ends within a second",
         [] {
             return contention(11, {{"add-signalled", accountName(14)}});
         }},
        {req + "while an add is open, another requester's add in the process is refused", secondRequesterRefused},
    };
}

// Where the board's storage refuses writes: what holds on any board.
Verdict entryWhereStorageRefuses() {
    static const char entry[] = "userctl-conformance: an entry where storage refuses";
    const int result = eventEntry(static_cast<long>(sizeof entry - 1), entry, whoRuns());
    return result != 0 ? pass() : skip("the entry returned 0: the board's storage took it");
}

Verdict addWhereStorageRefuses() {
    const std::string name = accountName(30);
    AddPlan plan;
    plan.entryMayThrow = true;
    const Verdict added = addAccount(name, plan);
    if (!added.ok() || added.reason.rfind("refused ", 0) == 0) return added;
    const bool threw = added.reason == "entry threw";
    return answered(ask("list", name), threw ? "absent" : "listed 3 0",
                    threw ? "after its entry threw, a fresh list" : "after its entry returned 0, a fresh list");
}

std::vector<Point> storagePoints() {
    const std::string when = " where storage refuses";
    std::vector<Point> all = tracePoints(when);
    all.push_back(
        {"llog: an entry outside an add" + when + " returns nonzero, never throws", entryWhereStorageRefuses});
    all.push_back({"CGIRequester: an add" + when + " is refused, or not listed when its entry throws, or listed",
                   addWhereStorageRefuses});
    return all;
}

std::vector<Point> sequencePoints() {
    const std::string seq = "every library: a sequence of calls ";
    return {
        {seq + "writes nothing to standard output", sequence, output},
        {seq + "reads nothing from standard input", sequence, input},
        {seq + "leaves the signal mask and every handler as they were", sequence, signals},
        {seq + "leaves no thread running", sequence, threads},
        {seq + "writes whole lines to standard error", sequence, errorLines},
    };
}

}  // namespace

std::vector<Point> points(Mode mode) {
    std::vector<Point> all = mode == Mode::storageRefuses ? storagePoints() : partitionPoints();
    if (mode != Mode::storageRefuses) {
        for (auto&& group : {textPoints(), requesterPoints()}) all.insert(all.end(), group.begin(), group.end());
        all.push_back(
            {"PException: a platform exception is caught by const reference with action 1537 and detail 20019",
             exceptionAcross});
        all.push_back({"UtmpUtil: getUserInfo at a pseudo-terminal gives 0, a login and the terminal's name as origin",
                       loginAtTerminal});
    }
    const std::vector<Point> sequences = sequencePoints();
    all.insert(all.end(), sequences.begin(), sequences.end());
    if (mode != Mode::storageRefuses) {
        all.push_back({"CGIRequester: an add to a full board is refused with noMoreUsers",
                       [mode] { return fullRefused(mode == Mode::fill); }});
    }
    return all;
}

}  // namespace kit
