#include "llog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "PException.h"
#include "Process.h"

namespace {

std::string_view field(const char* text, std::size_t limit = board::maxFieldLength) {
    return text ? std::string_view(text, strnlen(text, limit)) : std::string_view();
}

}  // namespace

namespace HalmLib {
namespace Report {

int llog_putHalmLog(long length, const char* text, unsigned long kind, const char* login, const char* origin,
                    const char* code) {
    // The text is read up to length bytes and never past its NUL.
    const std::size_t textLimit =
        length > 0 ? std::min<unsigned long>(static_cast<unsigned long>(length), board::maxFieldLength) : 0;
    char kindText[24];
    std::snprintf(kindText, sizeof kindText, "%lu", kind);
    board::Process& board = board::process();
    const board::Status written = board.logs.append(
        board::eventLog, "\t", {kindText, field(login), field(origin), field(code), field(text, textLimit)});
    // The event of an add whose account is stored ends its record.
    if (board.add.isOpen()) {
        // A board that breaks its promise to throw: the add undone, and only the result says so.
        if (board::load(board).faults.eventFails) {
            (void)board.add.undo(board::Status(EIO, "add undone: account record not written (injected fault)"));
            return -1;
        }
        if (!board.add.end().ok()) HalmLib::throwFailure("Account record not written");
        return 0;
    }
    if (written.forConsole()) board.logs.report(written);  // an event log the board does not trust
    return written.ok() ? 0 : -1;
}

}  // namespace Report
}  // namespace HalmLib
