// User name and password rules on arbitrary text (up to the first NUL).
#include <string>

#include "FuzzSupport.h"
#include "Probe.h"
#include "TestPlatform.h"

namespace {

bool nameAllowed(const std::string& text) {
    if (text.size() < 8 || text.size() > 32) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '_' || c == '-'))) return false;
    }
    return true;
}

bool passwordAllowed(const std::string& text) {
    if (text.size() < 8 || text.size() > 32) return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) > '~') return false;
    }
    return true;
}

// One rule on a fresh platform: the output and what was traced.
template <typename Rule>
std::vector<std::string> judge(Rule rule, const std::string& text, bool allowed) {
    testplatform::reset();
    Probe probe;
    std::string output = "stale";
    FUZZ_CHECK((probe.*rule)(text.c_str(), output) == allowed);
    FUZZ_CHECK(output == text);
    const std::vector<std::string>& trace = testplatform::state().trace;
    FUZZ_CHECK(trace.size() == (allowed ? 0u : 1u));
    for (const std::string& line : trace) FUZZ_CHECK(line.size() <= 255);
    return trace;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
    judge(&Probe::getUserName, text, nameAllowed(text));

    // A password of the same length and character classes, every byte
    // changed, must leave the very same trace: no line shows any of it.
    std::string other = text;
    for (char& c : other) c = fuzz::disguise(c);
    const bool allowed = passwordAllowed(text);
    FUZZ_CHECK(judge(&Probe::getPassword, text, allowed) == judge(&Probe::getPassword, other, allowed));
    return 0;
}
