#pragma once

// The board's message catalogue. Formats message number with the inserts
// that follow into buffer, which must hold lmsgBufferSize bytes; the text is
// always cut to fit, NUL included. Returns buffer. Never throws.
//   10046 (const char* command)                     command completed
//   10047 (const char* text, int detail, int action) command failed
//   10092 (const char* account, const char* verb)    event-log text
//   20003 (const char* call)                          platform call failed
constexpr unsigned int lmsgBufferSize = 256;

extern "C" char* lmsg_getmsg(int number, char* buffer, ...);
