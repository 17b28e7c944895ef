#pragma once

#include <cstdint>

// The command selector: picks the command from the first two words of the
// command line, runs it and returns its exit status.
class UserCtrlCmd {
public:
    UserCtrlCmd();
    virtual ~UserCtrlCmd();

    // count and vector as the process received them, program name included.
    int execute(int count, char** vector);
    // Consumes the program name and the two command words from the caller's
    // count and vector; true when a command was selected.
    bool parseCommand(int* count, char*** vector);
    bool checkKeyword(const char* word, const char* keyword);
    // The not-supported message naming word (empty when there is none),
    // escaped as the logs escape text.
    void paramError(const char* word);
    // No usage text exists; unsupported input gets paramError alone.
    void printUsage();

private:
    enum : std::int32_t { addUser = 0, showUserList = 1, noCommand = 2 };
    std::int32_t cmdType;
};
