#include <cstdio>

#include "HalmTrace.h"
#include "UserCommandCommon.h"
#include "UserCtrlCmd.h"

int main(int argc, char** argv) {
    HalmLib::trace::HalmTrace trace(1, 10, 1024);
    try {
        UserCtrlCmd selector;
        return selector.execute(argc, argv);
    } catch (...) {
        // Last resort: whatever escaped the command is reported by its first
        // word alone, never by the words that follow (they may be secrets).
        char message[UserCommandCommon::textBufferSize];
        if (argc > 1 && argv[1] != nullptr) {
            std::snprintf(message, sizeof message, "Failed to execute %s command.\n", argv[1]);
        } else {
            std::snprintf(message, sizeof message, "Failed to execute command.\n");
        }
        std::fputs(message, stderr);
        trace.putLog(0, message);
        return exitStatus::failed;
    }
}
