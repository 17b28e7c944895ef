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
// and a counter, so that a vendor can tell them and remove them.
void startRun();
std::string accountName(unsigned counter);

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
    End end = End::entry;                  // killed or requester dropped before the entry, else the entry written
    std::function<Verdict()> beforeEntry;  // between the trace line and the event entry
};

// The calls of an add: the login lookup, the request, the two catalogue
// texts, the trace line, the event entry and the objects' own.
constexpr unsigned addCalls = 9;

// Adds name as plan says. ok with "added", "refused CODE", "dropped"; a
// broken promise fails.
Verdict addAccount(const std::string& name, const AddPlan& plan);
// ok with "absent" or "listed PRIVILEGE MASK".
Verdict listAccount(const std::string& name);

// The questions a point may ask of a fresh command.
std::vector<Helper> helpers();

}  // namespace kit
