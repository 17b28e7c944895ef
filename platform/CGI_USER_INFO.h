#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Privilege codes as the service stores them.
namespace privilegeCode {
constexpr std::uint32_t admin = 1;
constexpr std::uint32_t operatorUser = 2;
constexpr std::uint32_t user = 3;
constexpr std::uint32_t ce = 4;
constexpr std::uint32_t partitionOperator = 5;
}  // namespace privilegeCode

// One user account as exchanged with the management service: 212 bytes of
// plain data, integers big-endian whatever the host. Every field is a byte
// array, so the struct has no padding and byte alignment on every compiler;
// integers are reached only through the accessors below, which decode the
// record's own bytes. Copy a record out of a received buffer whole before
// calling them.
struct CGI_USER_INFO {
    char user_name[36];                   // NUL-padded; at most 32 characters sent
    char password[68];                    // NUL-padded; at most 32 characters sent
    char password_again[36];              // NUL-padded; equals password when sent
    unsigned char privilege[4];           // a privilegeCode
    unsigned char entry_flag;             // 1 in every record sent
    unsigned char reserved[63];           // zero when sent; userctl never reads it in a listed record
    unsigned char operable_partition[4];  // partition mask

    std::uint32_t getPrivilege() const { return loadBe32(privilege); }
    void setPrivilege(std::uint32_t code) { storeBe32(privilege, code); }

    // The mask travels as 32 bits; bits above 31 of an unsigned long are dropped.
    unsigned long getOperablePartition() const { return loadBe32(operable_partition); }
    void setOperablePartition(unsigned long mask) {
        storeBe32(operable_partition, static_cast<std::uint32_t>(mask & 0xFFFFFFFFul));
    }

    static std::uint32_t loadBe32(const unsigned char (&bytes)[4]) {
        return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
               std::uint32_t{bytes[3]};
    }
    static void storeBe32(unsigned char (&bytes)[4], std::uint32_t value) {
        bytes[0] = static_cast<unsigned char>(value >> 24);
        bytes[1] = static_cast<unsigned char>(value >> 16);
        bytes[2] = static_cast<unsigned char>(value >> 8);
        bytes[3] = static_cast<unsigned char>(value);
    }
};

static_assert(sizeof(CGI_USER_INFO) == 212, "CGI_USER_INFO is 212 bytes on the wire");
static_assert(alignof(CGI_USER_INFO) == 1, "CGI_USER_INFO has no alignment of its own");
static_assert(std::is_trivially_copyable<CGI_USER_INFO>::value && std::is_standard_layout<CGI_USER_INFO>::value,
              "CGI_USER_INFO is copied byte for byte");
static_assert(offsetof(CGI_USER_INFO, password) == 36 && offsetof(CGI_USER_INFO, password_again) == 104 &&
                  offsetof(CGI_USER_INFO, privilege) == 140 && offsetof(CGI_USER_INFO, entry_flag) == 144 &&
                  offsetof(CGI_USER_INFO, reserved) == 145 && offsetof(CGI_USER_INFO, operable_partition) == 208,
              "CGI_USER_INFO field offsets");
