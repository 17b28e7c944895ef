#pragma once

// The test platform: stands in for the board in unit tests. Every call the
// program makes is recorded in the open, and the fields below say what the
// next calls answer. reset() before each test.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace testplatform {

struct Lookup {  // one lmsg_getmsg call
    int number;
    std::string text;  // as written into the buffer
};

struct Request {  // one CGIRequester::getInfo or setInfo call
    unsigned int code;
    unsigned int size;
    std::vector<unsigned char> bytes;  // what setInfo sent
};

struct Event {  // one llog_putHalmLog call
    long length;
    std::string text;
    unsigned long kind;
    std::string login;
    std::string origin;
    std::string code;
};

struct State {
    // Recorded.
    std::vector<std::string> trace;  // every putLog text, in order
    std::vector<Lookup> lookups;
    std::vector<Request> requests;
    std::vector<Event> events;
    int traceObjects = 0;            // HalmTrace objects alive
    int requesters = 0;              // CGIRequester objects alive

    // What the platform answers.
    int partitions = 4;
    int loginResult = 0;
    std::string origin = "pts/0";
    std::string login = "alice";
    int setInfoResult = 1;
    std::int32_t setInfoError = 0;
    std::exception_ptr setInfoRaises;  // thrown instead of answering
    int getInfoResult = 1;
    std::vector<unsigned char> reply = {0, 0};  // handed to setSerialized
    std::exception_ptr getInfoRaises;
    std::exception_ptr partitionRaises;  // thrown by getMaxPartitionNum
};

State& state();
void reset();

}  // namespace testplatform
