#pragma once

namespace HalmLib {
namespace Report {

// Appends one entry to the board's event log: length bytes of text (no
// more), then the entry's kind, the login name, where it came from and a code.
// Returns 0 when the entry was written. The entry of an added account's
// record (CGIRequester.h) may throw HalmLib::PException, where the board
// takes the account and its record as one and the record could not be
// written: the account is then not stored. No other entry throws.
int llog_putHalmLog(long length, const char* text, unsigned long kind, const char* login, const char* origin,
                    const char* code);

}  // namespace Report
}  // namespace HalmLib
