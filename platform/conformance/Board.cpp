#include "Board.h"

#include <sys/random.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
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
    if (UtmpUtil::getUserInfo(who.origin, who.login) != 0 || who.login.empty()) who = {"conformance", "console"};
    return who;
}

Verdict addAccount(const std::string& name, const AddPlan& plan) {
    HalmLib::trace::HalmTrace trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize);
    const Who who = whoRuns();
    std::optional<CGIRequester> requester(std::in_place);
    GuardedBytes data(sizeof(CGI_USER_INFO));
    CGI_USER_INFO record = makeRecord(name, plan.privilege, plan.mask);
    std::memcpy(data.data(), &record, sizeof record);
    explicit_bzero(&record, sizeof record);
    comment("adding account " + name + " (remove it when done)");
    const int added = requester->setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record, data.data());
    plan.revokeData ? data.revoke() : explicit_bzero(data.data(), sizeof record);
    const std::int32_t code = requester->errorCode;
    if (added == 0) return code != 0 ? pass("refused " + std::to_string(code)) : fail("refused with errorCode 0");

    char message[lmsgBufferSize];
    const std::string command = "add user " + name + " ******** ******** user quiet";
    trace.putLog(0, lmsg_getmsg(lmsgNumber::commandCompleted, message, command.c_str()));
    if (plan.end == AddPlan::End::killed) kill(getpid(), SIGKILL);
    if (plan.end == AddPlan::End::dropped) {
        requester.reset();
        return pass("dropped");
    }
    const Verdict between = plan.beforeEntry ? plan.beforeEntry() : pass();
    lmsg_getmsg(lmsgNumber::accountEvent, message, name.c_str(), "Add");
    const int logged = HalmLib::Report::llog_putHalmLog(static_cast<long>(std::strlen(message)), message, 1,
                                                        who.login.c_str(), who.origin.c_str(), "0xFF");
    if (!between.ok()) return between;
    if (code != 0) return fail("errorCode " + std::to_string(code) + " after a successful add, not 0");
    if (logged != 0) return fail("the event entry returned " + std::to_string(logged) + ", not 0");
    return pass("added");
}

Verdict listAccount(const std::string& name) {
    HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO> users;
    CGIRequester requester;
    if (requester.getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users) == 0)
        return fail("a fresh command's list was refused with " + std::to_string(requester.errorCode));
    CGI_USER_INFO record;
    for (unsigned int i = 0; i < users.size(); ++i) {
        std::memcpy(&record, &users[i], sizeof record);
        if (std::string(record.user_name, strnlen(record.user_name, sizeof record.user_name)) != name) continue;
        return pass("listed " + std::to_string(record.getPrivilege()) + " " +
                    std::to_string(record.getOperablePartition()));
    }
    return pass("absent");
}

std::vector<Helper> helpers() {
    return {
        {"list", 3, [](const std::string& name) { return listAccount(name); }},
        {"add", addCalls, [](const std::string& name) { return addAccount(name, {}); }},
        {"add-killed", addCalls,
         [](const std::string& name) { return addAccount(name, ending(AddPlan::End::killed)); }},
        {"add-dropped", addCalls,
         [](const std::string& name) { return addAccount(name, ending(AddPlan::End::dropped)); }},
    };
}

}  // namespace kit
