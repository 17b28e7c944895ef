#include "UserCtrlCmd.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "AddUser.h"
#include "ShowUserList.h"
#include "UserCommandCommon.h"

namespace {

void consume(int* count, char*** vector) {
    --*count;
    ++*vector;
}

const char* currentWord(const int* count, char** const* vector) { return *count > 0 ? (*vector)[0] : nullptr; }

// The length of a UTF-8 sequence by its lead byte; 0 for a byte that leads
// none (a continuation byte, the lead of an overlong form or of a code point
// past U+10FFFF).
std::size_t leadLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return lead < 0xF5 ? 4 : 0;
}

// The code point of the UTF-8 sequence that text starts with, and its
// length; 0 for one that is not UTF-8 (overlong, a surrogate, past U+10FFFF).
// No two-byte form is overlong: leadLength refuses the leads C0 and C1.
std::size_t utf8Length(std::string_view text, char32_t& point) {
    const std::size_t length = leadLength(static_cast<unsigned char>(text[0]));
    if (length == 0 || length > text.size()) return 0;
    point = static_cast<unsigned char>(text[0]) & (length == 1 ? 0x7Fu : 0x3Fu >> (length - 1));
    for (const char c : text.substr(1, length - 1)) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) return 0;
        point = point << 6 | (static_cast<unsigned char>(c) & 0x3Fu);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    return overlong || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF ? 0 : length;
}

// The escape of the character word starts with into piece (room for 17
// bytes): the backslash, the C0 and C1 controls, DEL, the line and paragraph
// separators, the bidirectional controls and every byte that is not UTF-8
// escaped, byte by byte as \xHH (\n, \t and \r by name), any other
// character as it is. Returns how many bytes of word it took.
std::size_t escapeOne(std::string_view word, char* piece) {
    char32_t point = 0;
    const std::size_t length = utf8Length(word, point), taken = length > 0 ? length : 1;
    const bool hidden = length == 0 || point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x61C ||
                        point == 0x200E || point == 0x200F || (point >= 0x2028 && point <= 0x202E) ||
                        (point >= 0x2066 && point <= 0x2069);
    const std::size_t name = std::string_view("\n\t\r\\").find(static_cast<char>(point));
    if (length == 1 && name != std::string_view::npos) {
        std::snprintf(piece, 17, "\\%c", "ntr\\"[name]);
    } else if (hidden) {
        for (std::size_t i = 0; i < taken; ++i) {
            std::snprintf(piece + 4 * i, 17 - 4 * i, "\\x%02x", static_cast<unsigned char>(word[i]));
        }
    } else {
        std::snprintf(piece, 17, "%.*s", static_cast<int>(length), word.data());
    }
    return taken;
}

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
    return UserCommandCommon::checkKeyword(word, keyword);
}

void UserCtrlCmd::paramError(const char* word) {
    std::fputs("The specified command is not supported.(error=[", stderr);
    char piece[UserCommandCommon::textBufferSize];
    for (std::string_view rest = word ? word : ""; !rest.empty();) {
        rest.remove_prefix(escape(rest, piece, sizeof piece));
        std::fputs(piece, stderr);
    }
    std::fputs("])\n", stderr);
}

std::size_t UserCtrlCmd::escape(std::string_view word, char* text, std::size_t size) {
    std::size_t used = 0, taken = 0;
    for (char piece[17]; taken < word.size();) {
        const std::size_t took = escapeOne(word.substr(taken), piece), length = std::strlen(piece);
        if (used + length >= size) break;
        std::memcpy(text + used, piece, length);
        used += length;
        taken += took;
    }
    if (size > 0) text[used] = '\0';
    return taken;
}

void UserCtrlCmd::printUsage() {}
