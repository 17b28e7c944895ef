#pragma once

#include <string>

class UtmpUtil {
public:
    // Fills origin with where the invoking user works from (remote host,
    // terminal or "console") and login with the invoking user's login name.
    // Returns 0 on success, nonzero when no login can be found; the texts are
    // unspecified then. Throws HalmLib::PException for a platform failure.
    static int getUserInfo(std::string& origin, std::string& login);
};
