#pragma once

// The board's message catalogue. Formats message number with the inserts
// that follow into buffer, which must hold lmsgBufferSize bytes: the text is
// always NUL-terminated and cut to fit, however long the inserts. Returns
// buffer. Never throws. The texts are the board's own, in its words and
// language (userctl's manual quotes those of the simulated board); a number
// it does not know still gives a text.
constexpr unsigned int lmsgBufferSize = 256;

// The message numbers, with the inserts each takes, by these types.
namespace lmsgNumber {
constexpr int commandCompleted = 10046;  // const char* command
constexpr int commandFailed = 10047;     // const char* text, int detail, int action
constexpr int accountEvent = 10092;      // const char* account, const char* verb: the event-log text
constexpr int callFailed = 20003;        // const char* call: a platform call failed
}  // namespace lmsgNumber

extern "C" char* lmsg_getmsg(int number, char* buffer, ...);
