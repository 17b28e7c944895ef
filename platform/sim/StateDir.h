#pragma once

// Where the board's files live, and whether to trust them.

#include <string>

namespace board {

// The state directory, opened once per process: created (0700, parents
// too) when missing, then trusted only when it is no symbolic link, belongs
// to the effective user, no one else can read or write it, and no other
// user can replace a directory on its path; so no other user can plant a
// file or a link in it, or hold its lock. -1 when there is none to trust;
// the reason then went to standard error, since no trace log can hold it.
int stateDirFd();
// Its path, for messages; empty when none is set.
std::string stateDir();
std::string statePath(const char* name);

// Forgets the state directory, so that the next call looks for it anew.
void forgetStateDir();

}  // namespace board
