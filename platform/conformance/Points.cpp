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
using Users = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

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

// The calls of the sequence below.
constexpr unsigned sequenceCalls = 14;

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
    const PartitionOperatorInfo info;
    for (const SetRow& row : setRows) {
        if ((row.partition < 0 || row.partition > 31) != outside) continue;
        const unsigned long got = info.setOperablePartition(row.mask, row.partition);
        if (got != row.expected)
            return fail(format("setOperablePartition(0x%lx, %d) gave 0x%lx, not 0x%lx", row.mask, row.partition, got,
                               row.expected));
    }
    return pass();
}

Verdict reportRowsHold(bool outside) {
    const PartitionOperatorInfo info;
    for (const ReportRow& row : reportRows) {
        if ((row.partition < 0 || row.partition > 31) != outside) continue;
        const int got = info.isOperablePartition(row.mask, row.partition);
        if ((got != 0) != row.expected)
            return fail(format("isOperablePartition(0x%lx, %d) gave %d", row.mask, row.partition, got));
    }
    return pass();
}

// With beats, each call is given the call bound afresh.
Verdict partitionCountStable(unsigned calls, long withinMs, bool beats) {
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int first = CommonUtil::getMaxPartitionNum();
    for (unsigned i = 1; i < calls; ++i) {
        if (beats) heartbeat();
        const int again = CommonUtil::getMaxPartitionNum();
        if (again != first) return fail(format("call %u gave %d, the first %d", i + 1, again, first));
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const long tookMs = (end.tv_sec - start.tv_sec) * 1000L + (end.tv_nsec - start.tv_nsec) / 1000000L;
    return expect(tookMs < withinMs, format("%u calls took %ld ms, not under %ld ms", calls, tookMs, withinMs));
}

// A text of length characters whose NUL ends a page, put to the trace log.
Verdict traceText(std::size_t length, bool lineFeed) {
    HalmLib::trace::HalmTrace trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize);
    GuardedBytes text(length + 1);
    for (std::size_t i = 0; i < length; ++i) text.text()[i] = static_cast<char>('a' + i % 26);
    if (lineFeed) text.text()[length - 1] = '\n';
    trace.putLog(0, length == 0 ? nullptr : text.text());
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
    const char* got = message(buffer.text(), insert.text());
    if (got != buffer.text()) return fail("the buffer was not returned");
    return expect(std::memchr(buffer.data(), 0, lmsgBufferSize) != nullptr, "no NUL within the 256 bytes");
}

Verdict eventWithoutNul() {
    static const char entry[] = "userctl-conformance: an event entry read to its length";
    const std::size_t length = sizeof entry - 1;
    GuardedBytes text(length);
    std::memcpy(text.data(), entry, length);
    const Who who = whoRuns();
    const int result = HalmLib::Report::llog_putHalmLog(static_cast<long>(length), text.text(), 1, who.login.c_str(),
                                                        who.origin.c_str(), "0xFF");
    return expect(result == 0, format("llog_putHalmLog gave %d, not 0", result));
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
    if (payload.size() < 2) return fail(format("a reply of %zu bytes has no count", payload.size()));
    const std::size_t count = (std::size_t{payload[0]} << 8) | payload[1];
    if (payload.size() < 2 + sizeof(CGI_USER_INFO) * count)
        return fail(format("%zu bytes are too few for a count of %zu", payload.size(), count));
    CGI_USER_INFO record;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(&record, payload.data() + 2 + sizeof record * i, sizeof record);
        if (record.getPrivilege() < privilegeCode::admin || record.getPrivilege() > privilegeCode::partitionOperator)
            return fail(format("record %zu has privilege %u", i, static_cast<unsigned>(record.getPrivilege())));
        if (record.user_name[0] == '\0') return fail(format("record %zu has no name", i));
    }
    return pass();
}

Verdict listThroughReceiver(bool takes) {
    CGIRequester requester;
    Recorder receiver(takes);
    const int result = requester.getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, receiver);
    const std::int32_t code = requester.errorCode;
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
    comment("adding account " + name + " (remove it when done)");
    CGIRequester requester;
    const int result = requester.setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, size, data.data());
    const std::int32_t code = requester.errorCode;
    explicit_bzero(data.data(), size);
    if (result != 0 || code == 0) return fail(format("gave %d with errorCode %d", result, code));
    return answered(ask("list", name), "absent", "a fresh command's list");
}

Verdict addedAndListed() {
    // Kept within the mask, whatever count a board that breaks its promise gives.
    const int partitions = std::clamp(CommonUtil::getMaxPartitionNum(), 1, PartitionOperatorInfo::maskWidth);
    AddPlan plan;
    plan.privilege = privilegeCode::partitionOperator;
    plan.mask = 1ul | 1ul << (partitions - 1);
    const std::string name = accountName(1);
    const Verdict added = addAccount(name, plan);
    if (added.reason != "added") return fail("the add: " + added.reason);
    return answered(ask("list", name), format("listed 5 %lu", plan.mask), "once recorded, a fresh command's list");
}

Verdict hiddenUntilRecorded() {
    const std::string name = accountName(2);
    AddPlan plan;
    plan.beforeEntry = [&] { return answered(ask("list", name), "absent", "before the event entry, a fresh list"); };
    const Verdict added = addAccount(name, plan);
    if (added.reason != "added") return fail("the add: " + added.reason);
    return answered(ask("list", name), "listed 3 0", "after the event entry, a fresh list");
}

// An add that ended without its event entry, as helper ends it, expected.
Verdict notStoredWithoutEntry(const char* helper, const std::string& expected, unsigned counter) {
    const std::string name = accountName(counter);
    const Verdict ended = ask(helper, name);
    if (ended.reason != expected) return fail("the add: " + ended.reason + ", not " + expected);
    const Verdict absent = answered(ask("list", name), "absent", "once it ended, a fresh command's list");
    if (!absent.ok()) return absent;
    return answered(ask("add", name), "added", "the name added again");
}

Verdict existingRefused() {
    const std::string name = accountName(8);
    const Verdict first = answered(ask("add", name), "added", "the first add, by a fresh command");
    if (!first.ok()) return first;
    return answered(addAccount(name, {}), "refused 1036", "the second add");
}

Verdict fullRefused(bool fill) {
    if (!fill) return skip("the board is filled only with --fill");
    for (unsigned counter = 1000; counter < 1000 + 65536; ++counter) {
        const Verdict answer = ask("add", accountName(counter));
        if (answer.ok() && answer.reason == "added") continue;
        return answered(answer, "refused 1037", format("after %u accounts, an add", counter - 1000));
    }
    return fail("the board took 65536 accounts");
}

Verdict exceptionAcross() {
    try {
        (void)Users()[0];
        return fail("an index out of range threw nothing");
    } catch (const HalmLib::PException& exception) {
        const int action = exception.getActionCode(), detail = exception.getExceptionDetail();
        if (action != 1537 || detail != 20019) return fail(format("action %d and detail %d", action, detail));
    }
    // Thrown from within the library itself.
    const HalmLib::PException given(1, 80, 23296, 1, 1537, 20019, 0, 0, 0, 0, 0, 0, 0, 0);
    unsigned char buffer[1];
    try {
        (void)given.getSerialized(buffer, 0);
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
    if (!path || setsid() < 0) return skip("no session of the kit's own");
    const int terminal = open(path, O_RDWR | O_NOCTTY);
    if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) return skip("no controlling terminal");
    std::string origin, login;
    const int result = UtmpUtil::getUserInfo(origin, login);
    const std::string got = format("gave %d, login \"%s\", origin \"%s\"", result, login.c_str(), origin.c_str());
    return expect(result == 0 && !login.empty() && !origin.empty() && origin.find("/dev/") == std::string::npos, got);
}

// One of each call, none of which changes the board's accounts; what each
// gives is other points' concern.
Verdict sequence() {
    HalmLib::trace::HalmTrace trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize);
    char message[lmsgBufferSize];
    trace.putLog(0, lmsg_getmsg(lmsgNumber::commandCompleted, message, "userctl-conformance sequence"));
    const PartitionOperatorInfo info;
    const int partition = CommonUtil::getMaxPartitionNum() - 1;
    (void)info.isOperablePartition(info.setOperablePartition(0, partition), partition);
    const Who who = whoRuns();
    Users users;
    CGIRequester requester;
    (void)requester.getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users);
    const CGI_USER_INFO record{};
    (void)requester.setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record - 1, &record);
    static const char entry[] = "userctl-conformance: a sequence of calls";
    (void)HalmLib::Report::llog_putHalmLog(static_cast<long>(sizeof entry - 1), entry, 1, who.login.c_str(),
                                           who.origin.c_str(), "0xFF");
    return pass();
}

std::vector<Point> partitionPoints() {
    const std::string count = "CommonUtil: getMaxPartitionNum ";
    return {
        {"PartitionOperatorInfo: setOperablePartition adds bit n for n 0..31", 1, [] { return setRowsHold(false); }},
        {"PartitionOperatorInfo: isOperablePartition is nonzero exactly for a bit in the mask", 1,
         [] { return reportRowsHold(false); }},
        {"PartitionOperatorInfo: a partition outside 0..31 is never set", 1, [] { return setRowsHold(true); }},
        {"PartitionOperatorInfo: a partition outside 0..31 is never reported", 1, [] { return reportRowsHold(true); }},
        {count + "is at least 1", 1,
         [] {
             const int partitions = CommonUtil::getMaxPartitionNum();
             return expect(partitions >= 1, format("it gave %d", partitions));
         }},
        {count + "is the same at every call", 1, [] { return partitionCountStable(100, LONG_MAX, true); }},
        {count + "65536 times takes well under the call bound", 1,
         [] { return partitionCountStable(65536, HalmLib::callSeconds * 1000L / 4, false); }},
    };
}

std::vector<Point> textPoints() {
    const std::string put = "HalmTrace: putLog ";
    std::vector<Point> all = {
        {put + "takes a text of 255 characters", 2, [] { return traceText(255, false); }},
        {put + "takes a text of 1000 characters, which it cuts", 2, [] { return traceText(1000, false); }},
        {put + "ignores a null text", 2, [] { return traceText(0, false); }},
        {put + "takes a text ending in a line feed", 2, [] { return traceText(30, true); }},
        {put + "reads no byte past the NUL that ends a page", 2, [] { return traceText(40, false); }},
    };
    for (const MessageRow& row : messageRows) {
        all.push_back({std::string("lmsg: ") + row.number + " with 1000-byte inserts fits the 256 bytes of its buffer",
                       1, [&row] { return messageFits(row.call); }});
    }
    all.push_back({"llog: llog_putHalmLog reads no more than length bytes and returns 0", 3, eventWithoutNul});
    return all;
}

std::vector<Point> requesterPoints() {
    const std::string req = "CGIRequester: ";
    return {
        {req + "errorCode is 0 before any request", 1,
         [] { return expect(CGIRequester().errorCode == 0, "it is not"); }},
        {req + "getInfo fills a well-formed list through setSerialized once", 2,
         [] { return listThroughReceiver(true); }},
        {req + "getInfo gives 0 and a nonzero errorCode when setSerialized refuses", 2,
         [] { return listThroughReceiver(false); }},
        {req + "setInfo refuses 211 bytes, adds nothing, reads none past them", 5,
         [] { return wrongSizeRefused(211, 6); }},
        {req + "setInfo refuses 213 bytes, adds nothing, reads none past them", 5,
         [] { return wrongSizeRefused(213, 7); }},
        {req + "setInfo reads no byte past 212 and keeps no pointer to data", addCalls,
         [] {
             AddPlan plan;
             plan.revokeData = true;
             return answered(addAccount(accountName(5), plan), "added", "the add");
         }},
        {req + "an add keeps errorCode 0 and, once recorded, is listed with its privilege and mask", addCalls + 3,
         addedAndListed},
        {req + "an add is not listed before its event entry, and is listed after", addCalls + 6, hiddenUntilRecorded},
        {req + "an add killed before its event entry is not stored, and its name can be added again", 1,
         [] { return notStoredWithoutEntry("add-killed", killedBy(SIGKILL), 3); }},
        {req + "an add whose requester is destroyed before its event entry is not stored", 1,
         [] { return notStoredWithoutEntry("add-dropped", "dropped", 4); }},
        {req + "an add of an existing name is refused with 1036", addCalls, existingRefused},
    };
}

}  // namespace

std::vector<Point> points(bool fill) {
    std::vector<Point> all = partitionPoints();
    for (auto&& group : {textPoints(), requesterPoints()}) all.insert(all.end(), group.begin(), group.end());
    all.push_back({"PException: a platform exception is caught by const reference with action 1537 and detail 20019", 3,
                   exceptionAcross});
    all.push_back({"UtmpUtil: getUserInfo at a pseudo-terminal gives 0, a login and an origin without /dev/", 1,
                   loginAtTerminal});
    const std::string seq = "every library: a sequence of calls ";
    all.push_back({seq + "writes nothing to standard output", sequenceCalls, sequence, output});
    all.push_back({seq + "reads nothing from standard input", sequenceCalls, sequence, input});
    all.push_back({seq + "leaves the signal mask and every handler as they were", sequenceCalls, sequence, signals});
    all.push_back({seq + "leaves no thread running", sequenceCalls, sequence, threads});
    all.push_back(
        {"CGIRequester: an add to a full board is refused with 1037", 1, [fill] { return fullRefused(fill); }});
    return all;
}

}  // namespace kit
