#include "HalmTrace.h"

#include <cerrno>

#include "Process.h"

namespace HalmLib {
namespace trace {

// The simulated board notes any call outside the contract, so that a program
// that breaks it shows it in the log it is tested by.
HalmTrace::HalmTrace(unsigned char facility, unsigned char level, unsigned short lineSize) {
    if (facility != cliFacility || level != cliLevel || lineSize != cliLineSize) {
        board::process().logs.report(board::failure(EINVAL, "HalmTrace(%u, %u, %u): expected (%u, %u, %u)", facility,
                                                    level, lineSize, cliFacility, cliLevel, cliLineSize));
    }
}
HalmTrace::~HalmTrace() = default;

void HalmTrace::putLog(unsigned char kind, const char* text) {
    board::Logs& logs = board::process().logs;
    if (kind != 0) logs.report(board::failure(EINVAL, "putLog kind %u: expected 0", kind));
    if (text) logs.trace(text);
}

}  // namespace trace
}  // namespace HalmLib
