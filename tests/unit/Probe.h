#pragma once

#include "UserCommandCommon.h"

// The command base on its own, with a parse whose answer a test chooses.
class Probe : public UserCommandCommon {
public:
    bool parseCommand(int, char**) override { return accept; }
    int execute() override {
        ++executed;
        return 42;
    }
    bool accept = true;
    int executed = 0;
};
