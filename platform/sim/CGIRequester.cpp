#include "CGIRequester.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "Config.h"
#include "LogLine.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "Process.h"

namespace {

using HalmLib::Gui::REQ_CGI_ADD_USER;
using HalmLib::Gui::REQ_CGI_GET_USER_LIST;
namespace serviceError = HalmLib::Gui::serviceError;
using board::failure;
using board::Status;
using UserList = HalmLib::Gui::UserList;
static_assert(board::maxLockWait + 10 <= HalmLib::callSeconds, "a call returns within the platform's bound");

// The service's codes for the requests it refuses besides a name taken and
// a full board, which CGIRequester.h names: each says what failed.
namespace refusal {
constexpr std::int32_t malformed = 1;  // a request the service does not take, or a reply its receiver did not
constexpr std::int32_t lock = 2;       // a lock not taken: held past lock_wait, the wait cancelled, its file refused
constexpr std::int32_t read = 3;       // the store could not be read, or holds more than a list can carry
constexpr std::int32_t write = 4;      // the store, or the logs that record an add, could not be written
constexpr std::int32_t hashing = 5;    // the password could not be hashed
constexpr std::int32_t injected = 6;   // refused by an injected fault (list=fail)
constexpr std::int32_t open = 7;       // an add of this process is open still: one add at a time
}  // namespace refusal

// The service's answer inside the board: carried out (code 0), or refused
// with a code and, where the board has one to give, the reason.
struct Answer {
    std::int32_t code = 0;
    Status why;
};

const char* const unavailable = "Management service unavailable";

// The text, then NUL bytes to the end of the field.
template <std::size_t N>
bool padded(const char (&field)[N]) {
    const std::size_t length = strnlen(field, N);
    return length < N && std::all_of(field + length, field + N, [](char c) { return c == '\0'; });
}

// Whether an add-user record is sound, or why it is malformed.
Status judgeRecord(const CGI_USER_INFO& user, std::uint32_t partitions) {
    const auto malformed = [](const char* why) {
        return Status(EINVAL, std::string("add-user request refused: ") + why);
    };
    if (!padded(user.user_name) || !padded(user.password) || !padded(user.password_again))
        return malformed("a text field not padded with NUL bytes");
    if (user.entry_flag != 1) return malformed("an entry flag other than 1");
    if (std::any_of(std::begin(user.reserved), std::end(user.reserved), [](unsigned char b) { return b != 0; }))
        return malformed("reserved bytes that are not zero");
    // ':' separates the store's fields.
    if (!*user.user_name || !board::printable(user.user_name) || std::strchr(user.user_name, ':'))
        return malformed("an empty name or one with a byte outside printable ASCII or ':'");
    if (std::strcmp(user.password, user.password_again) != 0) return malformed("the two passwords differ");
    if (user.getPrivilege() < privilegeCode::admin || user.getPrivilege() > privilegeCode::partitionOperator)
        return malformed("an unknown privilege");
    // A count past the mask's width holds every partition a mask can name.
    if (partitions < HalmLib::HalmUi::PartitionOperatorInfo::maskWidth &&
        std::uint64_t{user.getOperablePartition()} >> partitions != 0) {
        return malformed("a partition outside the machine");
    }
    return {};
}

// The platform's answer to a request, from the board's: nonzero when carried
// out; else 0, with the reason said and the code in errorCode.
int answered(board::Logs& logs, const Answer& answer, std::int32_t& errorCode) {
    if (answer.code == 0) return 1;
    // A wait cancelled by a signal that is to end the caller: its reason
    // waits half a second at most for its log, so that the caller ends
    // within a second of the signal.
    if (answer.why.error() == EINTR) {
        timespec soon = board::deadlineIn(0);
        soon.tv_nsec += 500000000;
        if (soon.tv_nsec >= 1000000000) {
            soon.tv_nsec -= 1000000000;
            ++soon.tv_sec;
        }
        logs.waitNoLongerThan(soon);
    }
    if (!answer.why.ok()) logs.report(answer.why);
    errorCode = answer.code;
    return 0;
}

// A wait for a lock that ran out or was cancelled, else a file not written.
std::int32_t lockOrWrite(const Status& status) {
    return status.error() == EWOULDBLOCK || status.error() == EINTR ? refusal::lock : refusal::write;
}

// The serialized user list: a 16-bit big-endian count, then one record per
// account in store order. The store is released before this returns, so
// that only the payload is held while the caller's object takes its copy.
Answer buildUserList(const board::StateDir& dir, std::vector<unsigned char>& payload) {
    board::Store store;
    if (Status read = board::readStore(dir, store); !read.ok()) return {refusal::read, read};
    const std::size_t count = store.accounts.size();
    if (count > UserList::maxCount) {
        return {refusal::read,
                failure(EFBIG, "%s: %zu accounts are more than a list can carry", dir.file("users").c_str(), count)};
    }
    payload.assign(UserList::countSize + count * sizeof(CGI_USER_INFO), 0);
    payload[0] = static_cast<unsigned char>(count >> 8);
    payload[1] = static_cast<unsigned char>(count);
    unsigned char* at = payload.data() + UserList::countSize;
    for (const board::Account& account : store.accounts) {
        CGI_USER_INFO record{};
        std::memcpy(record.user_name, account.name.data(), account.name.size());
        record.setPrivilege(account.privilege);
        record.entry_flag = 1;
        record.setOperablePartition(account.mask);
        std::memcpy(at, &record, sizeof record);
        at += sizeof record;
    }
    return {};
}

// The service's rules for one more account in store, line its line: a name
// taken, a full board.
Answer judgeAdd(const board::StateDir& dir, const board::Settings& settings, const board::Store& store,
                std::string_view name, std::string_view line) {
    const auto named = [&](const board::Account& held) { return held.name == name; };
    if (std::any_of(store.accounts.begin(), store.accounts.end(), named)) return {serviceError::userExists, {}};
    if (store.accounts.size() >= settings.maxUsers) return {serviceError::noMoreUsers, {}};
    if (store.bytes.size() + line.size() > board::maxStoreSize) {
        return {serviceError::noMoreUsers,
                failure(EFBIG, "%s: one more account would pass the %zu bytes a store may hold",
                        dir.file("users").c_str(), board::maxStoreSize)};
    }
    return {};
}

// The account added under the store's lock, unless the service refuses it.
// The add is then open: its record is written through the logs it holds, and
// the account stored once that is durable (Transaction.h).
Answer storeAccount(board::Process& board, const board::Settings& settings, const board::Account& account,
                    std::string_view verifier, const void* requester) {
    using Stage = board::Transaction::Stage;
    board::Transaction& add = board.add;
    Stage failedAt = Stage::lock;
    // One wait for every lock the add takes, and every line it writes meanwhile.
    if (Status taken = add.take(board::deadlineIn(settings.lockWait), failedAt); !taken.ok()) {
        return {failedAt == Stage::lock   ? refusal::lock
                : failedAt == Stage::read ? refusal::read
                                          : lockOrWrite(taken),
                taken};
    }
    const std::string line = board::storeLine(account, verifier);
    if (Answer refused = judgeAdd(board.stateDir, settings, add.store(), account.name, line); refused.code != 0) {
        add.release();
        return refused;
    }
    const Status opened = add.open(line, account.name, requester);
    return opened.ok() ? Answer() : Answer{lockOrWrite(opened), opened};
}

// The service's answer to requester's add-user request.
Answer addUser(board::Process& board, const board::Config& config, unsigned int size, const void* data,
               const void* requester) {
    switch (config.faults.add) {
    case board::Faults::Add::thrown: HalmLib::throwFailure(unavailable);
    case board::Faults::Add::refused:
        return {config.faults.addCode, failure(EINVAL, "add-user request refused with %ld (injected fault)",
                                               static_cast<long>(config.faults.addCode))};
    default: break;
    }
    // A signal that is to end the caller, arrived as the request was sent:
    // cancelled before the password's hash, which may take long.
    if (const int number = board::endingSignalPending(); number > 0) {
        return {refusal::lock, failure(EINTR, "add cancelled by signal %d as it was requested", number)};
    }
    if (!data || size != sizeof(CGI_USER_INFO)) {
        return {refusal::malformed, failure(EINVAL, "add-user request of %u bytes refused", size)};
    }
    CGI_USER_INFO user;
    std::memcpy(&user, data, sizeof user);
    if (Status sound = judgeRecord(user, board::partitionCount(config)); !sound.ok()) {
        explicit_bzero(&user, sizeof user);
        return {refusal::malformed, sound};
    }
    std::string verifier;
    const Status hashed = board::makeVerifier(user.password, verifier);
    explicit_bzero(user.password, sizeof user.password);
    explicit_bzero(user.password_again, sizeof user.password_again);
    if (!hashed.ok()) return {refusal::hashing, hashed.within("cannot hash the password")};
    const board::Account account{user.user_name, user.getPrivilege(),
                                 static_cast<std::uint32_t>(user.getOperablePartition())};
    return storeAccount(board, config.settings, account, verifier, requester);
}

// The service's answer to a user-list request, result filled when it is
// carried out.
Answer listUsers(const board::StateDir& dir, const board::Config& config, unsigned int request,
                 HalmLib::SerializableObject& result) {
    if (request != REQ_CGI_GET_USER_LIST)
        return {refusal::malformed, failure(EINVAL, "unknown request 0x%08x", request)};
    switch (config.faults.list) {
    case board::Faults::List::thrown: HalmLib::throwFailure(unavailable);
    case board::Faults::List::refused: return {refusal::injected, Status(EINVAL, "user list refused (injected fault)")};
    default: break;
    }
    std::vector<unsigned char> payload;
    if (Answer built = buildUserList(dir, payload); built.code != 0) return built;
    if (config.faults.list == board::Faults::List::corrupt) payload.pop_back();  // a record cut short
    if (!result.setSerialized(payload.data(), static_cast<unsigned int>(payload.size()))) {
        return {refusal::malformed, Status(EINVAL, "user list reply refused by its receiver")};
    }
    return {};
}

}  // namespace

namespace HalmLib {
namespace Gui {

CGIRequester::CGIRequester() : errorCode(0) {}
// An add of this requester's whose record the caller never wrote is taken
// back. Memory running out meanwhile leaves it as it stands: a destructor
// must not throw.
CGIRequester::~CGIRequester() {
    try {
        if (board::Transaction& add = board::process().add; add.openedBy(this)) {
            (void)add.undo(failure(ECANCELED, "add undone: its record was never written").aloud());
        }
    } catch (...) {
    }
}

int CGIRequester::getInfo(unsigned int request, SerializableObject& result) {
    board::Process& board = board::process();
    return answered(board.logs, listUsers(board.stateDir, board::load(board), request, result), errorCode);
}

int CGIRequester::setInfo(unsigned int request, unsigned int size, const void* data) {
    board::Process& board = board::process();
    const board::Config config = board::load(board);
    if (request != REQ_CGI_ADD_USER) {
        return answered(board.logs, {refusal::malformed, failure(EINVAL, "unknown request 0x%08x", request)},
                        errorCode);
    }
    // The open add's locks and files are its own: a second add would take
    // them over, and both would report success for one record.
    if (board.add.isOpen()) {
        return answered(board.logs, {refusal::open, Status(EBUSY, "add-user request refused: another add is open")},
                        errorCode);
    }
    const board::Logs::Bounded bounded(board.logs);
    return answered(board.logs, addUser(board, config, size, data, this), errorCode);
}

}  // namespace Gui
}  // namespace HalmLib
