#pragma once

// Where the board's files live, and whether to trust them.

#include <string>

#include "Files.h"
#include "Status.h"

namespace board {

// The state directory: reached from "/" one name at a time, each directory on
// the way created (0700) when missing and judged by what was opened, a link
// followed only when it is root's or the effective user's. It is trusted only
// when it belongs to the effective user and no one else can read or write it,
// and no other user can replace a directory or link on its path; so no other
// user can plant a file or a link in it, or read what it holds. When it
// cannot be trusted, or there is none, its status says why and what would
// make it usable, for the console (no trace log can be trusted to hold it).
struct StateDir {
    std::string path;  // for messages; empty when none is set
    Fd dir;            // opened for reading; none when not trusted
    Status status;

    // The path of the file name in it, for messages.
    std::string file(const char* name) const { return path + "/" + name; }
};
StateDir learnStateDir();

// The board's directory for what it locks, in the state directory.
constexpr const char* lockDir = "locks";

}  // namespace board
