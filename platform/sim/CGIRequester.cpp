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
#include "PrimitiveTypeArray.h"
#include "StateDir.h"
#include "Store.h"
#include "Transaction.h"

namespace {

using HalmLib::Gui::REQ_CGI_ADD_USER;
using HalmLib::Gui::REQ_CGI_GET_USER_LIST;
namespace serviceError = HalmLib::Gui::serviceError;
using List = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;
using board::failure;
using board::Status;

constexpr std::int32_t errorMalformed = 1;  // also: the board failed to carry the request out

const char* const unavailable = "Management service unavailable";

// The text, then NUL bytes to the end of the field.
template <std::size_t N>
bool padded(const char (&field)[N]) {
    const std::size_t length = strnlen(field, N);
    return length < N && std::all_of(field + length, field + N, [](char c) { return c == '\0'; });
}

// The reason an add-user record is malformed, or null when it is sound.
const char* malformation(const CGI_USER_INFO& user, std::uint32_t partitions) {
    if (!padded(user.user_name) || !padded(user.password) || !padded(user.password_again))
        return "a text field not padded with NUL bytes";
    if (user.entry_flag != 1) return "an entry flag other than 1";
    if (std::any_of(std::begin(user.reserved), std::end(user.reserved), [](unsigned char b) { return b != 0; }))
        return "reserved bytes that are not zero";
    // ':' separates the store's fields.
    if (!*user.user_name || !board::printable(user.user_name) || std::strchr(user.user_name, ':'))
        return "an empty name or one with a byte outside printable ASCII or ':'";
    if (std::strcmp(user.password, user.password_again) != 0) return "the two passwords differ";
    if (user.getPrivilege() < privilegeCode::admin || user.getPrivilege() > privilegeCode::partitionOperator)
        return "an unknown privilege";
    if (std::uint64_t{user.getOperablePartition()} >> partitions != 0) return "a partition outside the machine";
    return nullptr;
}

// The service's error code for a refused request, its reason said.
std::int32_t refused(std::int32_t code, const Status& why) {
    board::report(why);
    return code;
}

// The serialized user list: a 16-bit big-endian count, then one record per
// account in store order. The store is released before this returns, so
// that only the payload is held while the caller's object takes its copy.
Status buildUserList(std::vector<unsigned char>& payload) {
    board::Store store;
    if (Status read = board::readStore(store); !read.ok()) return read;
    const std::size_t count = store.accounts.size();
    if (count > List::maxCount) {
        return failure(EFBIG, "%s: %zu accounts are more than a list can carry", board::statePath("users").c_str(),
                       count);
    }
    payload.assign(List::countSize + count * sizeof(CGI_USER_INFO), 0);
    payload[0] = static_cast<unsigned char>(count >> 8);
    payload[1] = static_cast<unsigned char>(count);
    unsigned char* at = payload.data() + List::countSize;
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

// The account appended to the store under its lock, unless the service
// refuses it: 0, or the service's error code. The add is then open: its
// record is written through the logs it holds (Transaction.h).
std::int32_t storeAccount(const board::Account& account, std::string_view verifier, const board::Settings& settings) {
    // One wait for every lock the add takes, the store's first.
    const timespec deadline = board::deadlineIn(settings.lockWait);
    board::StoreLock lock;
    board::Store store;
    Status status = board::lockStore(lock, deadline);
    if (status.ok()) status = board::readStore(store);
    if (!status.ok()) return refused(errorMalformed, status);
    const auto named = [&](const board::Account& held) { return held.name == account.name; };
    if (std::any_of(store.accounts.begin(), store.accounts.end(), named)) return serviceError::userExists;
    if (store.accounts.size() >= settings.maxUsers) return serviceError::noMoreUsers;
    const std::string line = board::storeLine(account, verifier);
    if (store.bytes.size() + line.size() > board::maxStoreSize) {
        return refused(serviceError::noMoreUsers,
                       failure(EFBIG, "%s: one more account would pass the %zu bytes a store may hold",
                               board::statePath("users").c_str(), board::maxStoreSize));
    }
    status = board::commitAdd(std::move(lock), deadline, store.bytes, line, account.name);
    return status.ok() ? 0 : refused(errorMalformed, status);
}

// The service's answer to an add-user request: 0 when the account was
// stored, else the error code, its reason said.
std::int32_t addUser(const board::Config& config, unsigned int size, const void* data) {
    switch (config.faults.add) {
    case board::Faults::Add::raise: HalmLib::throwFailure(unavailable);
    case board::Faults::Add::refuse:
        return refused(config.faults.addCode, failure(EINVAL, "add-user request refused with %ld (injected fault)",
                                                      static_cast<long>(config.faults.addCode)));
    default: break;
    }
    if (!data || size != sizeof(CGI_USER_INFO)) {
        return refused(errorMalformed, failure(EINVAL, "add-user request of %u bytes refused", size));
    }
    CGI_USER_INFO user;
    std::memcpy(&user, data, sizeof user);
    if (const char* reason = malformation(user, config.settings.partitions)) {
        explicit_bzero(&user, sizeof user);
        return refused(errorMalformed, Status(EINVAL, std::string("add-user request refused: ") + reason));
    }
    std::string verifier;
    const Status hashed = board::makeVerifier(user.password, verifier);
    explicit_bzero(user.password, sizeof user.password);
    explicit_bzero(user.password_again, sizeof user.password_again);
    if (!hashed.ok()) return refused(errorMalformed, hashed.within("cannot hash the password"));
    const board::Account account{user.user_name, user.getPrivilege(),
                                 static_cast<std::uint32_t>(user.getOperablePartition())};
    return storeAccount(account, verifier, config.settings);
}

}  // namespace

namespace HalmLib {
namespace Gui {

CGIRequester::CGIRequester() : errorCode(0) {}
// An add whose record the caller never wrote is taken back.
CGIRequester::~CGIRequester() {
    if (board::addOpen()) (void)board::undoAdd(failure(ECANCELED, "add undone: its record was never written").aloud());
}

int CGIRequester::getInfo(unsigned int request, SerializableObject& result) {
    const board::Config config = board::load();
    if (request != REQ_CGI_GET_USER_LIST) return refused(0, failure(EINVAL, "unknown request 0x%08x", request));
    switch (config.faults.list) {
    case board::Faults::List::raise: HalmLib::throwFailure(unavailable);
    case board::Faults::List::fail: return refused(0, Status(EINVAL, "user list refused (injected fault)"));
    default: break;
    }
    std::vector<unsigned char> payload;
    if (Status built = buildUserList(payload); !built.ok()) return refused(0, built);
    if (config.faults.list == board::Faults::List::corrupt) payload.pop_back();  // a record cut short
    if (!result.setSerialized(payload.data(), static_cast<unsigned int>(payload.size()))) {
        return refused(0, Status(EINVAL, "user list reply refused by its receiver"));
    }
    return 1;
}

int CGIRequester::setInfo(unsigned int request, unsigned int size, const void* data) {
    const board::Config config = board::load();
    const std::int32_t refusal = request == REQ_CGI_ADD_USER
                                     ? addUser(config, size, data)
                                     : refused(errorMalformed, failure(EINVAL, "unknown request 0x%08x", request));
    if (refusal == 0) return 1;
    errorCode = refusal;
    return 0;
}

}  // namespace Gui
}  // namespace HalmLib
