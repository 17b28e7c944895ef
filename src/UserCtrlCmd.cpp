#include "UserCtrlCmd.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "AddUser.h"
#include "ShowUserList.h"
#include "UserCommandCommon.h"

namespace {

void consume(int* count, char*** vector) {
    --*count;
    ++*vector;
}

const char* currentWord(const int* count, char** const* vector) { return *count > 0 ? (*vector)[0] : nullptr; }

}  // namespace

UserCtrlCmd::UserCtrlCmd() : cmdType(noCommand) {}
UserCtrlCmd::~UserCtrlCmd() = default;

int UserCtrlCmd::execute(int count, char** vector) {
    int words = count;
    char** list = vector;
    if (!parseCommand(&words, &list)) return exitStatus::invalid;

    std::unique_ptr<UserCommandCommon> command;
    if (cmdType == addUser) {
        command = std::make_unique<AddUser>();
    } else {
        command = std::make_unique<ShowUserList>();
    }
    return command->processCommand(words, list);
}

bool UserCtrlCmd::parseCommand(int* count, char*** vector) {
    cmdType = noCommand;
    // A process may be started with no argument at all, not even its name.
    if (*count <= 0) return false;
    consume(count, vector);
    const char* word = currentWord(count, vector);
    if (word == nullptr) return false;

    if (checkKeyword(word, "add")) {
        consume(count, vector);
        if (checkKeyword(currentWord(count, vector), "user")) cmdType = addUser;
    } else if (checkKeyword(word, "show")) {
        consume(count, vector);
        if (checkKeyword(currentWord(count, vector), "user_list")) cmdType = showUserList;
    }
    if (cmdType == noCommand) {
        paramError(currentWord(count, vector));
        return false;
    }
    consume(count, vector);
    return true;
}

bool UserCtrlCmd::checkKeyword(const char* word, const char* keyword) {
    return word != nullptr && keyword != nullptr && std::strcmp(word, keyword) == 0;
}

void UserCtrlCmd::paramError(const char* word) {
    std::fprintf(stderr, "The specified command is not supported.(error=[%s])\n", word ? word : "");
}

void UserCtrlCmd::printUsage() {}
