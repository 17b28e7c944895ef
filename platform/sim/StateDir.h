#pragma once

// Where the board's files live, and whether to trust them.

#include <string>

namespace board {

// The state directory, opened once per process: reached from "/" one name
// at a time, each directory on the way created (0700) when missing and
// judged by what was opened, a link followed only when it is root's or the
// effective user's. It is trusted only when it belongs to the effective
// user and no one else can read or write it, and no other user can replace
// a directory or link on its path; so no other user can plant a file or a
// link in it, or hold its lock. -1 when there is none to trust; the reason,
// and what would make it usable, then went to standard error, since no
// trace log can hold it.
int stateDirFd();
// Its path, for messages; empty when none is set.
std::string stateDir();
std::string statePath(const char* name);

// Forgets the state directory, so that the next call looks for it anew.
void forgetStateDir();

}  // namespace board
