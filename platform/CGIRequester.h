#pragma once

#include <cstdint>

#include "SerializableObject.h"

namespace HalmLib {

// Every call of the platform returns within this many seconds.
constexpr unsigned int callSeconds = 60;

namespace Gui {

// The requests userctl sends.
constexpr unsigned int REQ_CGI_GET_USER_LIST = 0x0201004F;  // reply: the serialized list of CGI_USER_INFO
constexpr unsigned int REQ_CGI_ADD_USER = 0x020100EB;       // data: one CGI_USER_INFO

// The service's error codes that userctl tells apart; any other code is a
// failure of its own.
namespace serviceError {
constexpr std::int32_t userExists = 1036;   // an account of that name exists
constexpr std::int32_t noMoreUsers = 1037;  // the service holds no further account
}  // namespace serviceError

// Client of the board's management service; one per command.
// Any operation may throw HalmLib::PException for a platform failure.
class CGIRequester {
public:
    CGIRequester();
    ~CGIRequester();
    CGIRequester(const CGIRequester&) = delete;
    CGIRequester& operator=(const CGIRequester&) = delete;

    // Sends request and fills result from the reply through its
    // setSerialized. Returns nonzero only when result then holds the reply;
    // after 0 (the service refused, or the reply was malformed), errorCode
    // holds the service's code.
    int getInfo(unsigned int request, SerializableObject& result);

    // Sends size bytes of data with request. Returns nonzero when the service
    // carried the request out; after 0, errorCode holds the service's code.
    // An add-user request that returns nonzero is followed by the account's
    // record, its trace line and its event line (llog.h).
    int setInfo(unsigned int request, unsigned int size, const void* data);

    // The service's error code for the last refused request, never 0 after
    // one; 0 before any.
    std::int32_t errorCode;
};

}  // namespace Gui
}  // namespace HalmLib
