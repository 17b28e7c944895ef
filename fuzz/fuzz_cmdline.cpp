// The whole command line through the selector, the board's answers chosen
// by the input too. Input: byte 0 the partition count; byte 1 the answers
// (bit 0 setInfo refuses, bits 1-2 its error code, bit 3 no login found,
// bit 4 getInfo refuses, bits 5-6 which call raises, bit 7 no argument at
// all); bytes 2-3 the length of the reply to getInfo, then the reply; then
// the command words, each ended by a NUL (the last one may be unended).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "FuzzSupport.h"
#include "PException.h"
#include "TestPlatform.h"
#include "UserCtrlCmd.h"

namespace {

using Words = std::vector<std::string>;
constexpr unsigned int addUserRequest = 0x020100EB;

struct Run {
    int status;
    testplatform::State recorded;
};

void answer(const std::uint8_t* data, const std::vector<unsigned char>& reply) {
    testplatform::reset();
    testplatform::State& board = testplatform::state();
    board.partitions = fuzz::partitionsFrom(data[0]);
    const std::uint8_t bits = data[1];
    board.setInfoResult = bits & 1 ? 0 : 1;
    const std::int32_t errors[] = {0, 1036, 1037, -1};
    board.setInfoError = errors[bits >> 1 & 3];
    board.loginResult = bits & 8 ? 1 : 0;
    board.getInfoResult = bits & 16 ? 0 : 1;
    board.reply = reply;
    const std::exception_ptr raised = std::make_exception_ptr(
        HalmLib::PException(1, 80, 1, 1, 1537, 20019, reinterpret_cast<long>("raised"), 0, 0, 0, 0, 0, 0, 0));
    if ((bits >> 5 & 3) == 1) board.setInfoRaises = raised;
    if ((bits >> 5 & 3) == 2) board.getInfoRaises = raised;
    if ((bits >> 5 & 3) == 3) board.partitionRaises = raised;
}

Run run(const std::uint8_t* data, const std::vector<unsigned char>& reply, const Words& words, bool addUser) {
    answer(data, reply);
    std::vector<std::vector<char>> texts;
    for (const std::string& word : words) texts.emplace_back(word.c_str(), word.c_str() + word.size() + 1);
    char program[] = "userctl";
    std::vector<char*> argv = {program};
    for (std::vector<char>& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    const bool none = data[1] & 0x80;
    int status;
    try {
        status = UserCtrlCmd().execute(none ? 0 : static_cast<int>(argv.size() - 1), none ? &argv.back() : argv.data());
    } catch (const HalmLib::PException&) {
        status = -1;  // the entry point reports these
    }
    // The passwords are gone from the process's own arguments.
    for (std::size_t i = 3; addUser && i < 5 && i < texts.size(); ++i) {
        FUZZ_CHECK(std::strspn(texts[i].data(), "x") == words[i].size());
    }
    return {status, testplatform::state()};
}

void check(const Run& run, const Words& words, bool addUser) {
    // Every line fits the board's trace and event log, and an account goes
    // out at most once, whole and as typed.
    for (const std::string& line : run.recorded.trace) FUZZ_CHECK(line.size() <= 255);
    for (const testplatform::Event& event : run.recorded.events) {
        FUZZ_CHECK(event.text.size() <= 255 && event.length == static_cast<long>(event.text.size()));
    }
    FUZZ_CHECK(run.recorded.requests.size() <= 1);
    if (run.recorded.requests.empty() || run.recorded.requests[0].code != addUserRequest) return;

    const testplatform::Request& request = run.recorded.requests[0];
    FUZZ_CHECK(addUser && request.size == sizeof(CGI_USER_INFO) && request.bytes.size() == request.size);
    CGI_USER_INFO record;
    std::memcpy(&record, request.bytes.data(), sizeof record);
    FUZZ_CHECK(record.entry_flag == 1 && record.getPrivilege() >= 1 && record.getPrivilege() <= 5);
    FUZZ_CHECK(std::memchr(record.user_name, 0, sizeof record.user_name) &&
               std::memchr(record.password, 0, sizeof record.password) &&
               std::memchr(record.password_again, 0, sizeof record.password_again));
    FUZZ_CHECK(words.size() >= 6 && words[2] == record.user_name && words[3] == record.password &&
               words[4] == record.password_again);
    const int held = std::clamp(run.recorded.partitions, 0, 32);
    FUZZ_CHECK(held == 32 || record.getOperablePartition() >> held == 0);
    if (record.getPrivilege() != 5) FUZZ_CHECK(record.getOperablePartition() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t replyLength = std::min<std::size_t>((data[2] << 8) | data[3], size - 4);
    const std::vector<unsigned char> reply(data + 4, data + 4 + replyLength);
    Words words;
    for (std::size_t at = 4 + replyLength; at < size;) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(data + at, 0, size - at));
        const std::size_t length = end ? static_cast<std::size_t>(end - data) - at : size - at;
        words.emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length + 1;
    }
    const bool addUser = !(data[1] & 0x80) && words.size() >= 2 && words[0] == "add" && words[1] == "user";

    const Run first = run(data, reply, words, addUser);
    check(first, words, addUser);
    if (!addUser || words.size() < 4) return 0;

    // The same command with every byte of both password words changed, each
    // to one of its class: the trace and the event log must not change, so
    // no line can show any part of a password.
    Words other = words;
    for (std::size_t i = 3; i < 5 && i < other.size(); ++i) {
        for (char& c : other[i]) c = fuzz::disguise(c);
    }
    const Run second = run(data, reply, other, addUser);
    check(second, other, addUser);
    FUZZ_CHECK(second.status == first.status && second.recorded.trace == first.recorded.trace);
    FUZZ_CHECK(second.recorded.events.size() == first.recorded.events.size());
    for (std::size_t i = 0; i < first.recorded.events.size(); ++i) {
        FUZZ_CHECK(second.recorded.events[i].text == first.recorded.events[i].text);
    }
    return 0;
}
