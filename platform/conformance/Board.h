#pragma once

// What the kit does on the board as userctl does it: adds an account with
// its record, lists the accounts. Each runs within a child of the harness.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "Harness.h"

namespace kit {

// The accounts of this run are named "cfk_", the run's six hex digits, "_"
// and a counter, so that a vendor can tell them and remove them; a long one
// is padded with "l" to the 32 characters a name may have.
void startRun();
std::string accountName(unsigned counter);
std::string longName(unsigned counter);

// A record to add: a random password, the entry flag, the rest zero.
CGI_USER_INFO makeRecord(const std::string& name, std::uint32_t privilege, unsigned long mask);

// Who runs the command, for the event entry, as userctl finds it.
struct Who {
    std::string login;
    std::string origin;
};
Who whoRuns();

struct AddPlan {
    enum class End { entry, killed, dropped };
    std::uint32_t privilege = privilegeCode::user;
    unsigned long mask = 0;
    bool revokeData = false;               // the record's bytes unreadable once setInfo returns
    bool signalled = false;                // SIGTERM raised, and held, before the request
    bool entryMayThrow = false;            // storage that refuses: the event entry may throw, the add then dropped
    End end = End::entry;                  // killed or requester dropped before the entry, else the entry written
    std::function<Verdict()> beforeEntry;  // between the trace line and the event entry
};

// The answer of an add refused for a full board: the point it serves skipped.
extern const char* const boardFull;

// Adds name as plan says: ok with "added", "refused CODE", "dropped" or
// "entry threw"; skipped when the board is full; a broken promise fails.
Verdict addAccount(const std::string& name, const AddPlan& plan);
// ok with "absent" or "listed PRIVILEGE MASK"; a listed record that carries
// a password fails.
Verdict listAccount(const std::string& name);

// The questions a point may ask of a fresh command.
std::vector<Helper> helpers();

}  // namespace kit
