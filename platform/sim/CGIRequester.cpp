#include "CGIRequester.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "Config.h"
#include "Files.h"
#include "LogLine.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "PrimitiveTypeArray.h"
#include "StateDir.h"
#include "Store.h"

namespace {

using HalmLib::Gui::REQ_CGI_ADD_USER;
using HalmLib::Gui::REQ_CGI_GET_USER_LIST;
namespace serviceError = HalmLib::Gui::serviceError;
using List = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

constexpr std::int32_t errorMalformed = 1;  // also: the board failed to carry the request out

const char* const unavailable = "Management service unavailable";

// The text, then NUL bytes to the end of the field.
template <std::size_t N>
bool padded(const char (&field)[N]) {
    const std::size_t length = strnlen(field, N);
    return length < N && std::all_of(field + length, field + N, [](char c) { return c == '\0'; });
}

bool validName(const char* name) {
    if (!*name) return false;
    for (const char* c = name; *c; ++c) {
        if (*c < 0x21 || *c > 0x7E || *c == ':') return false;  // ':' separates the store's fields
    }
    return true;
}

std::uint32_t partitionsMask(int partitions) {
    return partitions >= HalmLib::HalmUi::PartitionOperatorInfo::maskWidth ? 0xFFFFFFFFu
                                                                           : (std::uint32_t{1} << partitions) - 1;
}

// The reason an add-user record is malformed, or null when it is sound.
const char* malformation(const CGI_USER_INFO& user, int partitions) {
    if (!padded(user.user_name) || !padded(user.password) || !padded(user.password_again))
        return "a text field not padded with NUL bytes";
    if (user.entry_flag != 1) return "an entry flag other than 1";
    if (std::any_of(std::begin(user.reserved), std::end(user.reserved), [](unsigned char b) { return b != 0; }))
        return "reserved bytes that are not zero";
    if (!validName(user.user_name)) return "an empty name or one with a byte outside printable ASCII or ':'";
    if (std::strcmp(user.password, user.password_again) != 0) return "the two passwords differ";
    if (user.getPrivilege() < privilegeCode::admin || user.getPrivilege() > privilegeCode::partitionOperator)
        return "an unknown privilege";
    if (user.getOperablePartition() & ~static_cast<unsigned long>(partitionsMask(partitions)))
        return "a partition outside the machine";
    return nullptr;
}

void wipe(CGI_USER_INFO& user) { explicit_bzero(&user, sizeof user); }

// The serialized user list: a 16-bit big-endian count, then one record per
// account in store order. The store is released before this returns, so
// that only the payload is held while the caller's object takes its copy.
bool buildUserList(std::vector<unsigned char>& payload) {
    board::Store store;
    if (!board::readStore(store)) return false;
    const std::size_t count = store.accounts.size();
    if (count > List::maxCount) {
        board::traceReason("%s: %zu accounts are more than a list can carry", board::statePath("users").c_str(), count);
        return false;
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
    return true;
}

// A reply whose count announces one record more than follows.
void corrupt(std::vector<unsigned char>& payload) {
    const std::size_t count = (std::size_t{payload[0]} << 8) | payload[1];
    if (count == List::maxCount) {
        payload.pop_back();
        return;
    }
    payload[0] = static_cast<unsigned char>((count + 1) >> 8);
    payload[1] = static_cast<unsigned char>(count + 1);
}

}  // namespace

namespace HalmLib {
namespace Gui {

CGIRequester::CGIRequester() : errorCode(0) {}
CGIRequester::~CGIRequester() = default;

int CGIRequester::getInfo(unsigned int request, SerializableObject& result) {
    const board::Config config = board::load();
    if (request != REQ_CGI_GET_USER_LIST) {
        board::traceReason("unknown request 0x%08x", request);
        return 0;
    }
    switch (config.faults.list) {
    case board::Faults::List::raise: HalmLib::throwFailure(unavailable);
    case board::Faults::List::fail: board::traceReason("user list refused (injected fault)"); return 0;
    default: break;
    }
    std::vector<unsigned char> payload;
    if (!buildUserList(payload)) return 0;
    if (config.faults.list == board::Faults::List::corrupt) corrupt(payload);
    if (!result.setSerialized(payload.data(), static_cast<unsigned int>(payload.size()))) {
        board::traceReason("user list reply refused by its receiver");
        return 0;
    }
    return 1;
}

int CGIRequester::setInfo(unsigned int request, unsigned int size, const void* data) {
    const board::Config config = board::load();
    const auto refuse = [this](std::int32_t code) {
        errorCode = code;
        return 0;
    };
    if (request != REQ_CGI_ADD_USER) {
        board::traceReason("unknown request 0x%08x", request);
        return refuse(errorMalformed);
    }
    switch (config.faults.add) {
    case board::Faults::Add::raise: HalmLib::throwFailure(unavailable);
    case board::Faults::Add::refuse:
        board::traceReason("add-user request refused with %ld (injected fault)",
                           static_cast<long>(config.faults.addCode));
        return refuse(config.faults.addCode);
    default: break;
    }
    if (!data || size != sizeof(CGI_USER_INFO)) {
        board::traceReason("add-user request of %u bytes refused", size);
        return refuse(errorMalformed);
    }
    CGI_USER_INFO user;
    std::memcpy(&user, data, sizeof user);
    if (const char* reason = malformation(user, config.settings.partitions)) {
        wipe(user);
        board::traceReason("add-user request refused: %s", reason);
        return refuse(errorMalformed);
    }
    std::string verifier;
    const int hashed = board::makeVerifier(user.password, verifier);
    explicit_bzero(user.password, sizeof user.password);
    explicit_bzero(user.password_again, sizeof user.password_again);
    if (hashed != 0) {
        board::traceReason("cannot hash the password: %s", board::errorText(hashed));
        return refuse(errorMalformed);
    }
    const board::Account account{user.user_name, user.getPrivilege(),
                                 static_cast<std::uint32_t>(user.getOperablePartition())};
    switch (board::addAccount(account, verifier, config.settings.maxUsers)) {
    case board::AddResult::added: return 1;
    case board::AddResult::exists: return refuse(serviceError::userExists);
    case board::AddResult::full: return refuse(serviceError::noMoreUsers);
    case board::AddResult::failed: break;
    }
    return refuse(errorMalformed);
}

}  // namespace Gui
}  // namespace HalmLib
