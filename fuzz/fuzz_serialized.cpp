// The reply decoder for user lists: two arbitrary payloads in turn into the
// same array. Input: bytes 0-1 are the first payload's length (big-endian,
// modulo the rest); the rest is the first payload, then the second.
#include <cstring>
#include <vector>

#include "CGI_USER_INFO.h"
#include "FuzzSupport.h"
#include "PException.h"
#include "PrimitiveTypeArray.h"

using Users = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;
constexpr std::size_t recordSize = sizeof(CGI_USER_INFO);

// Exactly sized copies, so that a read past the payload is a sanitizer report.
static void feed(Users& users, std::vector<unsigned char> payload) {
    const unsigned int held = users.size();
    const std::size_t count = payload.size() < 2 ? 0 : (payload[0] << 8) | payload[1];
    const bool fits = payload.size() >= 2 + recordSize * count;
    FUZZ_CHECK(users.setSerialized(payload.data(), static_cast<unsigned int>(payload.size())) == fits);
    FUZZ_CHECK(users.size() == (fits ? held + count : held));
    for (unsigned int i = 0; fits && i < count; ++i) {
        FUZZ_CHECK(std::memcmp(&users[held + i], payload.data() + 2 + recordSize * i, recordSize) == 0);
    }
}

static std::vector<unsigned char> serialized(const Users& users) {
    std::vector<unsigned char> bytes(users.getSerializedSize());
    FUZZ_CHECK(bytes.size() == 2 + recordSize * users.size());
    // One byte short: refused, and nothing written.
    std::vector<unsigned char> shorter(bytes.size() - 1, 0xA5);
    bool raised = false;
    try {
        users.getSerialized(shorter.data(), static_cast<unsigned int>(shorter.size()));
    } catch (const HalmLib::PException&) {
        raised = true;
    }
    FUZZ_CHECK(raised && shorter == std::vector<unsigned char>(shorter.size(), 0xA5));
    FUZZ_CHECK(users.getSerialized(bytes.data(), static_cast<unsigned int>(bytes.size())) == bytes.size());
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t split = ((data[0] << 8) | data[1]) % (size - 1);
    const std::vector<unsigned char> first(data + 2, data + 2 + split), second(data + 2 + split, data + size);

    Users users;
    feed(users, first);
    const std::vector<unsigned char> once = serialized(users);
    if (users.size() > 0) FUZZ_CHECK(std::memcmp(once.data(), first.data(), once.size()) == 0);

    feed(users, second);
    const std::vector<unsigned char> twice = serialized(users);
    FUZZ_CHECK(twice[0] == (users.size() >> 8 & 0xFF) && twice[1] == (users.size() & 0xFF));
    FUZZ_CHECK(std::memcmp(twice.data() + 2, once.data() + 2, once.size() - 2) == 0);
    return 0;
}
