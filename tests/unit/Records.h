#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"

inline CGI_USER_INFO record(const std::string& name, unsigned int privilege, unsigned long mask) {
    CGI_USER_INFO user;
    std::memset(&user, 0, sizeof user);
    std::memcpy(user.user_name, name.data(), std::min(name.size(), sizeof user.user_name));
    user.setPrivilege(privilege);
    user.setOperablePartition(mask);
    return user;
}

// The user list reply: a 16-bit big-endian count, then the records.
inline std::vector<unsigned char> serialize(const std::vector<CGI_USER_INFO>& users) {
    std::vector<unsigned char> bytes = {static_cast<unsigned char>(users.size() >> 8),
                                        static_cast<unsigned char>(users.size())};
    for (const CGI_USER_INFO& user : users) {
        const auto* raw = reinterpret_cast<const unsigned char*>(&user);
        bytes.insert(bytes.end(), raw, raw + sizeof user);
    }
    return bytes;
}
