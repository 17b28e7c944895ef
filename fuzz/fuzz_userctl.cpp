// The whole program on the simulated board, every input its own board. The
// input's fields, separated by NUL bytes: board.conf, the store (users), the
// fault list, the reply typed at the question, then the command words. So
// one harness reaches every parser: the words, partition specifications,
// names, passwords and replies, the board's settings, faults and store, and
// the user list reply built from that store.
//
// Beyond the sanitizers it checks that the password words are wiped from the
// argument vector, and that no command loses an account or leaves a store
// the board cannot read.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Board.h"
#include "PException.h"
#include "Store.h"
#include "UserCtrlCmd.h"

namespace {

std::string dir;

void check(bool condition, const char* what) {
    if (condition) return;
    dprintf(STDERR_FILENO, "check failed: %s\n", what);
    std::abort();
}

void replace(const char* name, const std::string& content) {
    const std::string path = dir + "/" + name;
    unlink(path.c_str());
    if (content.empty()) return;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    check(file && std::fwrite(content.data(), 1, content.size(), file) == content.size(), "board file written");
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char scratch[] = "/tmp/userctl-fuzz-XXXXXX";
    check(mkdtemp(scratch) != nullptr, "scratch directory");
    dir = scratch;
    setenv("USERCTL_BOARD_DIR", scratch, 1);
    // The program's console goes nowhere. libFuzzer and the sanitizers write
    // to descriptor 2 itself, so stderr is pointed elsewhere rather than
    // reopened: a crash stays visible.
    check(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout");
    stderr = std::fopen("/dev/null", "w");
    check(stderr != nullptr, "stderr");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::vector<std::string> fields;
    for (std::size_t at = 0; at <= size;) {
        const auto* end = static_cast<const unsigned char*>(std::memchr(data + at, 0, size - at));
        const std::size_t length = end ? static_cast<std::size_t>(end - data) - at : size - at;
        fields.emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length + 1;
    }
    if (fields.size() < 4) return 0;
    for (const char* name : {"trace.log", "event.log", "users.lock", "users.tmp"}) replace(name, "");
    replace("board.conf", fields[0]);
    replace("users", fields[1]);
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
    const bool sound = board::readStore(dir + "/users", before);
    try {
        UserCtrlCmd().execute(static_cast<int>(argv.size() - 1), argv.data());
    } catch (const HalmLib::PException&) {
        // the entry reports these
    }

    const bool addUser = argv.size() > 3 && std::strcmp(argv[1], "add") == 0 && std::strcmp(argv[2], "user") == 0;
    for (std::size_t i = 4; addUser && i < 6 && i + 1 < argv.size(); ++i) {
        check(std::strspn(argv[i], "x") == std::strlen(argv[i]), "password word wiped");
    }
    check(!sound || (board::readStore(dir + "/users", after) && after.accounts.size() >= before.accounts.size()),
          "the store stays whole");
    return 0;
}
