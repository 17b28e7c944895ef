// The whole program on the simulated board, every input its own board. The
// input's fields, separated by NUL bytes: board.conf, the store (users), the
// fault list, the reply typed at the question, then the command words. So
// one harness reaches every parser: the words, partition specifications,
// names, passwords and replies, the board's settings, faults and store, and
// the user list reply built from that store.
//
// Beyond the sanitizers it checks that no command loses an account or
// leaves a store the board cannot read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "PException.h"
#include "Process.h"
#include "Store.h"
#include "UserCtrlCmd.h"

namespace {

void check(bool condition, const char* what) {
    if (condition) return;
    dprintf(STDERR_FILENO, "check failed: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static std::string scratch = std::filesystem::temp_directory_path() / "userctl-fuzz-XXXXXX";
    check(mkdtemp(scratch.data()) && setenv("USERCTL_BOARD_DIR", scratch.c_str(), 1) == 0, "scratch board");
    std::atexit([] { std::filesystem::remove_all(scratch); });
    // The program's console goes nowhere. libFuzzer and the sanitizers write
    // to descriptor 2 itself, so stderr is pointed elsewhere rather than
    // reopened: a crash stays visible.
    stderr = std::fopen("/dev/null", "w");
    check(std::freopen("/dev/null", "w", stdout) && stderr, "console");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    for (std::size_t at = 0, end = 0; at <= input.size(); at = end + 1) {
        end = std::min(input.find('\0', at), input.size());
        fields.push_back(input.substr(at, end - at));
    }
    if (fields.size() < 4) return 0;
    for (const char* name : {"trace.log", "event.log", "users.new", "board.conf", "users"}) {
        unlink(board::process().stateDir.file(name).c_str());
    }
    for (int i : {0, 1}) {
        if (fields[i].empty()) continue;
        // Written as the board writes its files: it trusts no other.
        const int file =
            open(board::process().stateDir.file(i ? "users" : "board.conf").c_str(), O_WRONLY | O_CREAT, 0600);
        check(file >= 0 && write(file, fields[i].data(), fields[i].size()) == static_cast<ssize_t>(fields[i].size()),
              "board file");
        close(file);
    }
    setenv("USERCTL_BOARD_FAULT", fields[2].c_str(), 1);
    board::forgetState();
    // Standard input holds the reply, then ends; a pipe's buffer holds it whole.
    int ends[2];
    check(pipe(ends) == 0 && dup2(ends[0], STDIN_FILENO) == STDIN_FILENO, "standard input");
    const std::string reply = fields[3].substr(0, 4096);
    check(write(ends[1], reply.data(), reply.size()) == static_cast<ssize_t>(reply.size()), "reply typed");
    close(ends[0]);
    close(ends[1]);
    std::clearerr(stdout);

    std::vector<char*> argv = {const_cast<char*>("userctl")};
    for (std::size_t i = 4; i < fields.size(); ++i) argv.push_back(&fields[i][0]);
    argv.push_back(nullptr);
    board::Store before, after;
    const bool sound = board::readStore(board::process().stateDir, before).ok();
    try {
        UserCtrlCmd().execute(static_cast<int>(argv.size() - 1), argv.data());
    } catch (const HalmLib::PException&) {
        // the entry reports these
    }
    const bool whole = board::readStore(board::process().stateDir, after).ok();
    check(!sound || (whole && after.accounts.size() >= before.accounts.size()), "the store stays whole");
    return 0;
}
