#pragma once

#include <cstdint>

#include "SerializableObject.h"

namespace HalmLib {
namespace Gui {

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
    // 0 when the service refused or the reply was malformed.
    int getInfo(unsigned int request, SerializableObject& result);

    // Sends size bytes of data with request. Returns nonzero when the service
    // carried the request out; after 0, errorCode holds the service's code.
    int setInfo(unsigned int request, unsigned int size, const void* data);

    // The service's error code for the last refused request; 0 before any.
    std::int32_t errorCode;
};

}  // namespace Gui
}  // namespace HalmLib
