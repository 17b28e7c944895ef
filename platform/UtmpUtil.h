#pragma once

#include <string>

class UtmpUtil {
public:
    // The login of the user who runs the command, by the session of its
    // controlling terminal: login takes its name, and origin where it works
    // from, the session's remote host, else its terminal as named under /dev
    // without that prefix ("pts/3" for /dev/pts/3). Without a controlling
    // terminal, or a session for it, both follow the board's own rule (such
    // as the effective user's account, from "console"). Given empty strings;
    // returns 0 with both filled, or nonzero when no login can be found (the
    // texts unspecified then). Throws HalmLib::PException for a platform
    // failure.
    static int getUserInfo(std::string& origin, std::string& login);
};
