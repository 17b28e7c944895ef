#pragma once

#include <cstdint>

#include "CGI_USER_INFO.h"
#include "PrimitiveTypeArray.h"
#include "SerializableObject.h"

namespace HalmLib {

// Every call of the platform, a constructor or destructor included, returns
// within this many seconds, a refusal or a platform failure included:
// userctl holds the signals that would end it across an add's request and
// record, so a call that hangs could then be ended only by SIGKILL.
constexpr unsigned int callSeconds = 60;

namespace Gui {

// The requests userctl sends.
constexpr unsigned int REQ_CGI_GET_USER_LIST = 0x0201004F;  // reply: a UserList's serialized form
constexpr unsigned int REQ_CGI_ADD_USER = 0x020100EB;       // data: one CGI_USER_INFO

// The user list's reply, in the list template's form (PrimitiveTypeArray.h):
// a count of UserList::countSize bytes, big-endian, then that many records.
// A board holds at most UserList::maxCount accounts, so that one reply
// carries them all; an add past its capacity is refused with noMoreUsers.
using UserList = HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

// The service's error codes that userctl tells apart; any other nonzero
// code is a refusal of the board's own.
namespace serviceError {
constexpr std::int32_t userExists = 1036;   // an account of that name is stored
constexpr std::int32_t noMoreUsers = 1037;  // the service holds no further account
}  // namespace serviceError

// Client of the board's management service. A command holds at most one at a
// time, default-constructed, and makes at most one request through it; what
// a second request through one requester does is the board's own.
// Any operation may throw HalmLib::PException for a platform failure.
//
// An add and its record are one: once setInfo has taken an add, the account
// is its command's until the command writes the record, its trace line (the
// first HalmTrace::putLog of the process after setInfo returned) and then its
// event entry (llog.h). The first event entry after the add ends it. Until
// then no other command may see the account: not in a list, not as a name
// taken. A command that ends before that entry (killed, or ending once this
// requester is destroyed) leaves the account not stored, and once that
// process is gone a new add of the name is taken. So no account is ever
// stored without its record. Whether the record is on disk is not
// observable from outside; a board says so in its own documents.
//
// While an add is open, another command's add (of its name or another) waits
// for it or is refused with a code of the board's own, never userExists for
// the open name, and another's list does not show it; how long it waits is
// the board's own, within callSeconds. A wait for another command returns
// refused within a second once a signal that would end the caller is pending
// and held (one whose action is the default, which ends a process): the
// board tells it with sigpending() and the signal's action, and leaves it
// pending, so that it ends the caller once let in. Within one process, while
// an add is open, another requester's setInfo is refused (errorCode
// nonzero), the open add untouched.
class CGIRequester {
public:
    CGIRequester();
    // Before its add's event entry, takes the add back.
    ~CGIRequester();
    CGIRequester(const CGIRequester&) = delete;
    CGIRequester& operator=(const CGIRequester&) = delete;

    // Sends request and hands the reply to result's setSerialized, once:
    // for REQ_CGI_GET_USER_LIST the count N, then N records of 212 bytes
    // packed back to back, in the service's own order (size at least
    // UserList::countSize + 212 * N). A listed record holds its account's
    // name, privilege and mask as added, and NUL bytes alone in its two
    // password fields: no password, nor anything made from one, leaves the
    // service. Its entry_flag and reserved bytes are the board's own, and a
    // mask bit at or past the partition count is the board's own too:
    // userctl reads none of them. Returns nonzero only when setSerialized
    // took it; 0 when the service refused, or setSerialized returned false
    // (errorCode nonzero either way).
    int getInfo(unsigned int request, SerializableObject& result);

    // Sends size bytes of data with request: for REQ_CGI_ADD_USER one
    // CGI_USER_INFO of 212 bytes. Reads no byte past size, and keeps no
    // pointer to data once it returns. Returns nonzero when the service took
    // the request (an add is then open: see above); 0 when it refused it
    // (another size than 212, a name taken, a full board, another add open,
    // or a reason of its own), nothing changed, errorCode holding its code.
    // Whether it refuses a mask bit at or past the partition count is the
    // board's own: userctl never sends one.
    int setInfo(unsigned int request, unsigned int size, const void* data);

    // 0 before any request; after a 0 result, the service's code for that
    // request, never 0. A success leaves it as it was.
    std::int32_t errorCode;
};

}  // namespace Gui
}  // namespace HalmLib
