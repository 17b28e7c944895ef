// userctl-conformance: checks, on the board it runs on, each promise of the
// platform's headers that userctl relies on, and reports in TAP.

#include <cstdio>
#include <cstring>
#include <exception>

#include "Board.h"
#include "Points.h"

namespace {

constexpr int nothingRan = 2;

const char* const consent =
    "userctl-conformance checks the board's platform libraries against the promises userctl relies on,\n"
    "and reports each as a TAP test point on standard output. It changes the board it runs on:\n"
    "  - it adds 6 user accounts named cfk_XXXXXX_N (XXXXXX the run's own hex digits), with privilege\n"
    "    User or Partition Operator and a random password that is never shown; each name is printed\n"
    "    as a TAP comment (# adding account ...), so that you can remove them afterwards;\n"
    "  - it writes lines to the board's trace log and entries to its event log;\n"
    "  - with --fill, it also adds such accounts until the board refuses one for being full, to check\n"
    "    that refusal: the board is then full until you remove them.\n"
    "To consent, run: userctl-conformance --changes-allowed [--fill]\n";

}  // namespace

int main(int count, char** words) {
    bool allowed = false;
    bool fill = false;
    for (int i = 1; i < count; ++i) {
        if (std::strcmp(words[i], "--changes-allowed") == 0) {
            allowed = true;
        } else if (std::strcmp(words[i], "--fill") == 0) {
            fill = true;
        } else {
            std::fprintf(stderr, "userctl-conformance: unknown word \"%s\"\n", words[i]);
            allowed = false;
            break;
        }
    }
    if (!allowed) {
        std::fputs(consent, stderr);
        return nothingRan;
    }
    try {
        kit::startRun();
        return kit::runPoints(kit::points(fill), kit::helpers());
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "userctl-conformance: %s\n", exception.what());
        return nothingRan;
    }
}
