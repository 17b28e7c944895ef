#include "UtmpUtil.h"

#include <pwd.h>
#include <unistd.h>
#include <utmp.h>

#include <cstring>

#include "Config.h"
#include "LogLine.h"

namespace {

// The terminal the command runs on, "pts/3" style; empty without one.
std::string terminalLine() {
    char name[256];
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (ttyname_r(fd, name, sizeof name) != 0) continue;
        const std::string_view path = name;
        return std::string(path.substr(0, 5) == "/dev/" ? path.substr(5) : path);
    }
    return {};
}

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

int UtmpUtil::getUserInfo(std::string& origin, std::string& login) {
    // A malformed fault list is left for the board's operations to report.
    board::Faults faults;
    if (board::readFaults(faults, false) && faults.login) {
        board::traceReason("login lookup failed (injected fault)");
        return 1;
    }
    const std::string line = terminalLine();
    std::string host;
    login.clear();
    if (!line.empty()) {
        setutent();
        while (const utmp* entry = getutent()) {
            if (entry->ut_type != USER_PROCESS || fieldText(entry->ut_line) != line) continue;
            login = fieldText(entry->ut_user);
            host = fieldText(entry->ut_host);
            break;
        }
        endutent();
    }
    // No utmp entry (a container, a CI job): the effective user's account.
    if (login.empty()) {
        if (const passwd* account = getpwuid(geteuid()); account && account->pw_name) login = account->pw_name;
    }
    if (login.empty()) {
        board::traceReason("login lookup failed: no login name for uid %ld", static_cast<long>(geteuid()));
        return 1;
    }
    origin = !host.empty() ? host : !line.empty() ? line : "console";
    return 0;
}
