#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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
    // escaped.
    void paramError(const char* word);
    // As much of word as fits in size bytes of text, escaped so that it can
    // neither drive a terminal nor be mistaken for other text, as the board's
    // logs escape text; this is the program's own copy, since the program
    // reaches the board through its platform alone. Allocates nothing, so
    // that what is said when memory runs out can show a word too. Returns how
    // many bytes of word it took: never part of a character, and at least one
    // where text has room for 17 bytes.
    static std::size_t escape(std::string_view word, char* text, std::size_t size);
    // No usage text exists; unsupported input gets paramError alone.
    void printUsage();

private:
    enum : std::int32_t { addUser = 0, showUserList = 1, noCommand = 2 };
    std::int32_t cmdType;
};
