#pragma once

namespace HalmLib {
namespace Report {

// Appends one entry to the board's event log: kind (userctl passes 1, an
// account's change), login and origin as UtmpUtil::getUserInfo gave them,
// code (userctl passes "0xFF"), and length bytes of text. Reads no more than
// length bytes of text, and no byte past its NUL where it has one sooner;
// the other texts are NUL-terminated. A length of 0 or less, and a null
// text, login, origin or code, are empty texts. Returns 0 when the entry was
// written, nonzero when it was not. What the entry holds, and whether it is
// on disk, is not observable from outside.
//
// The first entry after CGIRequester::setInfo has taken an add ends that add
// (CGIRequester.h): once it returns 0, the account is stored with its
// record, and another command lists it. When the record cannot be kept, the
// board drops the account and throws HalmLib::PException (userctl tells a
// nonzero result there as a failed call all the same); no other entry
// throws, not even when the board's storage refuses.
int llog_putHalmLog(long length, const char* text, unsigned long kind, const char* login, const char* origin,
                    const char* code);

}  // namespace Report
}  // namespace HalmLib
