#include "lmsg.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* insert(const char* text) { return text ? text : ""; }

}  // namespace

// Each message takes its inserts by their own types, so a format can never
// read an argument the caller did not pass; a null text prints as empty.
extern "C" char* lmsg_getmsg(int number, char* buffer, ...) {
    if (!buffer) return buffer;
    va_list args;
    va_start(args, buffer);
    switch (number) {
    case lmsgNumber::commandCompleted: {
        const char* command = insert(va_arg(args, const char*));
        std::snprintf(buffer, lmsgBufferSize, "Command completed. [%s]", command);
        break;
    }
    case lmsgNumber::commandFailed: {
        const char* text = insert(va_arg(args, const char*));
        const int detail = va_arg(args, int);
        const int action = va_arg(args, int);
        std::snprintf(buffer, lmsgBufferSize, "Command failed. [%s] (detail=%d, action=%d)", text, detail, action);
        break;
    }
    case lmsgNumber::accountEvent: {
        const char* account = insert(va_arg(args, const char*));
        const char* verb = insert(va_arg(args, const char*));
        std::snprintf(buffer, lmsgBufferSize, "User account %s: %s", account, verb);
        break;
    }
    case lmsgNumber::callFailed: {
        const char* call = insert(va_arg(args, const char*));
        std::snprintf(buffer, lmsgBufferSize, "Platform call failed. [%s]", call);
        break;
    }
    default: std::snprintf(buffer, lmsgBufferSize, "Message %d is not in the catalogue.", number);
    }
    va_end(args);
    return buffer;
}
