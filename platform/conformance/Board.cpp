#include "Board.h"

#include <sys/random.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "CGIRequester.h"
#include "HalmTrace.h"
#include "PrimitiveTypeArray.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace kit {

namespace {

using HalmLib::Gui::CGIRequester;

constexpr std::size_t passwordLength = 16;
std::string runSuffix;

void randomBytes(unsigned char* bytes, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = getrandom(bytes + done, size - done, 0);
        if (n <= 0) throw std::runtime_error("getrandom failed");
        done += static_cast<std::size_t>(n);
    }
}

// Printable ASCII without the blank, each character equally likely: a fixed
// password would be a login on every board the kit has run on.
void randomPassword(char* field) {
    constexpr unsigned range = '~' - '!' + 1;
    unsigned char bytes[64];
    for (std::size_t filled = 0; filled < passwordLength;) {
        randomBytes(bytes, sizeof bytes);
        for (std::size_t i = 0; i < sizeof bytes && filled < passwordLength; ++i) {
            if (bytes[i] < range * 2) field[filled++] = static_cast<char>('!' + bytes[i] % range);
        }
    }
    explicit_bzero(bytes, sizeof bytes);
}

long milliseconds() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec * 1000L + time.tv_nsec / 1000000L;
}

AddPlan ending(AddPlan::End end) {
    AddPlan plan;
    plan.end = end;
    return plan;
}

}  // namespace

void startRun() {
    unsigned char bytes[3];
    randomBytes(bytes, sizeof bytes);
    char hex[7];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x", bytes[0], bytes[1], bytes[2]);
    runSuffix = hex;
}

std::string accountName(unsigned counter) { return "cfk_" + runSuffix + "_" + std::to_string(counter); }
std::string longName(unsigned counter) {
    const std::string name = accountName(counter) + "_";
    return name + std::string(32 - name.size(), 'l');
}

const char* const boardFull =
    "the board holds no further account (refused with noMoreUsers): remove accounts and run again";

CGI_USER_INFO makeRecord(const std::string& name, std::uint32_t privilege, unsigned long mask) {
    CGI_USER_INFO record{};
    std::strncpy(record.user_name, name.c_str(), 32);
    randomPassword(record.password);
    std::memcpy(record.password_again, record.password, passwordLength);
    record.setPrivilege(privilege);
    record.entry_flag = 1;
    record.setOperablePartition(mask);
    return record;
}

Who whoRuns() {
    Who who;
    if (call([&] { return UtmpUtil::getUserInfo(who.origin, who.login); }) != 0 || who.login.empty())
        who = {"conformance", "console"};
    return who;
}

namespace {

// Sends the add with its bytes guarded; the result, and the time it took
// when a held SIGTERM is pending meanwhile, which a wait must then end.
Verdict request(Platform<CGIRequester>& requester, const std::string& name, const AddPlan& plan) {
    GuardedBytes data(sizeof(CGI_USER_INFO));
    CGI_USER_INFO record = makeRecord(name, plan.privilege, plan.mask);
    std::memcpy(data.data(), &record, sizeof record);
    explicit_bzero(&record, sizeof record);
    if (!named(name)) return fail("the account's name could not be reported: not added");
    if (plan.signalled) raise(SIGTERM);
    const long start = milliseconds();
    const int added = requester->setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record, data.data());
    const long took = milliseconds() - start;
    plan.revokeData ? data.revoke() : explicit_bzero(data.data(), sizeof record);
    sigset_t pending;
    sigpending(&pending);
    if (plan.signalled && sigismember(&pending, SIGTERM) != 1) return fail("the pending SIGTERM was taken");
    if (plan.signalled && added == 0 && took >= 1000)
        return fail("refused after " + std::to_string(took) + " ms with SIGTERM pending, not within a second");
    const std::int32_t code = requester->errorCode;
    if (added != 0) return pass("added");
    if (code == HalmLib::Gui::serviceError::noMoreUsers) return skip(boardFull);
    return code != 0 ? pass("refused " + std::to_string(code)) : fail("refused with errorCode 0");
}

// The add's event entry: its result, or, where storage refuses and the
// plan allows it, that it threw.
Verdict eventEntry(const std::string& name, const Who& who, const AddPlan& plan) {
    char message[lmsgBufferSize];
    call([&] { return lmsg_getmsg(lmsgNumber::accountEvent, message, name.c_str(), "Add"); });
    try {
        const int logged = call([&] {
            return HalmLib::Report::llog_putHalmLog(static_cast<long>(std::strlen(message)), message, 1,
                                                    who.login.c_str(), who.origin.c_str(), "0xFF");
        });
        return logged == 0 ? pass("added") : fail("the event entry returned " + std::to_string(logged) + ", not 0");
    } catch (const HalmLib::PException&) {
        if (!plan.entryMayThrow) throw;
        return pass("entry threw");
    }
}

}  // namespace

Verdict addAccount(const std::string& name, const AddPlan& plan) {
    Platform<HalmLib::trace::HalmTrace> trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel,
                                              HalmLib::trace::cliLineSize);
    const Who who = whoRuns();
    Platform<CGIRequester> requester;
    const Verdict sent = request(requester, name, plan);
    if (sent.reason != "added") return sent;
    const std::int32_t code = requester->errorCode;

    char message[lmsgBufferSize];
    const std::string command = "add user " + name + " ******** ******** user quiet";
    call([&] { return lmsg_getmsg(lmsgNumber::commandCompleted, message, command.c_str()); });
    trace->putLog(0, message);
    if (plan.end == AddPlan::End::killed) kill(getpid(), SIGKILL);
    if (plan.end == AddPlan::End::dropped) {
        requester.reset();
        return pass("dropped");
    }
    const Verdict between = plan.beforeEntry ? plan.beforeEntry() : pass();
    const Verdict entry = eventEntry(name, who, plan);
    if (!between.ok()) return between;
    if (code != 0) return fail("errorCode " + std::to_string(code) + " after a successful add, not 0");
    return entry;
}

Verdict listAccount(const std::string& name) {
    HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO> users;
    Platform<CGIRequester> requester;
    if (requester->getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users) == 0)
        return fail("a fresh command's list was refused with " + std::to_string(requester->errorCode));
    CGI_USER_INFO record;
    const CGI_USER_INFO none{};
    for (unsigned int i = 0; i < users.size(); ++i) {
        std::memcpy(&record, &users[i], sizeof record);
        if (std::string(record.user_name, strnlen(record.user_name, sizeof record.user_name)) != name) continue;
        if (std::memcmp(record.password, none.password, sizeof none.password) != 0 ||
            std::memcmp(record.password_again, none.password_again, sizeof none.password_again) != 0)
            return fail("the listed record of " + name + " has password fields that are not all NUL");
        return pass("listed " + std::to_string(record.getPrivilege()) + " " +
                    std::to_string(record.getOperablePartition()));
    }
    return pass("absent");
}

std::vector<Helper> helpers() {
    return {
        {"list", [](const std::string& name) { return listAccount(name); }},
        {"add",
         [](const std::string& words) {
             // NAME, or NAME PRIVILEGE MASK.
             AddPlan plan;
             char name[64] = {};
             if (std::sscanf(words.c_str(), "%63s %u %lu", name, &plan.privilege, &plan.mask) == 2)
                 return fail("no mask in " + words);
             return addAccount(name, plan);
         }},
        {"add-killed", [](const std::string& name) { return addAccount(name, ending(AddPlan::End::killed)); }},
        {"add-dropped", [](const std::string& name) { return addAccount(name, ending(AddPlan::End::dropped)); }},
        {"add-signalled",
         [](const std::string& name) {
             AddPlan plan;
             plan.signalled = true;
             return addAccount(name, plan);
         }},
    };
}

}  // namespace kit
