#include "TestPlatform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "CGIRequester.h"
#include "CommonUtil.h"
#include "HalmTrace.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace testplatform {

State& state() {
    static State current;
    return current;
}

void reset() { state() = State(); }

}  // namespace testplatform

using testplatform::state;

namespace HalmLib {
namespace trace {

HalmTrace::HalmTrace(unsigned char, unsigned char, unsigned short) { ++state().traceObjects; }
HalmTrace::~HalmTrace() { --state().traceObjects; }
void HalmTrace::putLog(unsigned char, const char* text) { state().trace.emplace_back(text); }

}  // namespace trace

namespace Gui {

CGIRequester::CGIRequester() : errorCode(0) { ++state().requesters; }
CGIRequester::~CGIRequester() { --state().requesters; }

int CGIRequester::getInfo(unsigned int request, SerializableObject& result) {
    state().requests.push_back({request, 0, {}});
    if (state().getInfoRaises) std::rethrow_exception(state().getInfoRaises);
    if (state().getInfoResult == 0) return 0;
    const std::vector<unsigned char>& reply = state().reply;
    return result.setSerialized(reply.data(), static_cast<unsigned int>(reply.size())) ? state().getInfoResult : 0;
}

int CGIRequester::setInfo(unsigned int request, unsigned int size, const void* data) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    state().requests.push_back({request, size, {bytes, bytes + size}});
    if (state().setInfoRaises) std::rethrow_exception(state().setInfoRaises);
    errorCode = state().setInfoError;
    return state().setInfoResult;
}

}  // namespace Gui

namespace Report {

int llog_putHalmLog(long length, const char* text, unsigned long kind, const char* login, const char* origin,
                    const char* code) {
    state().events.push_back({length, text, kind, login, origin, code});
    return 0;
}

}  // namespace Report
}  // namespace HalmLib

int CommonUtil::getMaxPartitionNum() {
    if (state().partitionRaises) std::rethrow_exception(state().partitionRaises);
    return state().partitions;
}

int UtmpUtil::getUserInfo(std::string& origin, std::string& login) {
    origin = state().origin;
    login = state().login;
    return state().loginResult;
}

// The board's texts, so that tests read the lines as an operator would.
extern "C" char* lmsg_getmsg(int number, char* buffer, ...) {
    const char* format = nullptr;
    switch (number) {
        case 10046: format = "Command completed. [%s]"; break;
        case 10047: format = "Command failed. [%s] (detail=%d, action=%d)"; break;
        case 10092: format = "User account %s: %s"; break;
        case 20003: format = "Platform call failed. [%s]"; break;
        default: break;
    }
    if (format == nullptr) {
        std::snprintf(buffer, lmsgBufferSize, "Message %d is not in the catalogue.", number);
    } else {
        va_list inserts;
        va_start(inserts, buffer);
        std::vsnprintf(buffer, lmsgBufferSize, format, inserts);
        va_end(inserts);
    }
    state().lookups.push_back({number, buffer});
    return buffer;
}
