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
    "  - it adds about 15 user accounts named cfk_XXXXXX_N (XXXXXX the run's own hex digits), one of\n"
    "    them padded to 32 characters with \"l\": one of each privilege (Administrator, Operator, CE and\n"
    "    Partition Operator once each), the rest User, each with a random password that is never shown;\n"
    "    each name is printed as a TAP comment (# adding account ...) before it is added, so that you\n"
    "    can remove them afterwards;\n"
    "  - it writes lines to the board's trace log and entries to its event log;\n"
    "  - with --fill, it also adds such accounts until the board refuses one for being full, to check\n"
    "    that refusal: the board is then full until you remove them.\n"
    "With --storage-refuses, it checks instead what must hold while the board's storage refuses writes\n"
    "(made so by you beforehand, as your board's documents say); it may add one account.\n"
    "To consent, run: userctl-conformance --changes-allowed [--fill | --storage-refuses]\n";

}  // namespace

int main(int count, char** words) {
    bool allowed = false;
    kit::Mode mode = kit::Mode::normal;
    for (int i = 1; i < count; ++i) {
        if (std::strcmp(words[i], "--changes-allowed") == 0) {
            allowed = true;
        } else if (std::strcmp(words[i], "--fill") == 0 && mode != kit::Mode::storageRefuses) {
            mode = kit::Mode::fill;
        } else if (std::strcmp(words[i], "--storage-refuses") == 0 && mode != kit::Mode::fill) {
            mode = kit::Mode::storageRefuses;
        } else {
            std::fprintf(stderr, "userctl-conformance: unknown word \"%s\", or --fill with --storage-refuses\n",
                         words[i]);
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
        return kit::runPoints(kit::points(mode), kit::helpers());
    } catch (const std::exception& exception) {
        std::fprintf(stderr, "userctl-conformance: %s\n", exception.what());
        return nothingRan;
    }
}
