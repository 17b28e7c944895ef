#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "PException.h"
#include "SerializableObject.h"

namespace HalmLib {
namespace HalmUi {

// A list of plain records and its serialized form: a 16-bit big-endian count,
// then the records packed back to back, sizeof(T) bytes each. Records are
// copied in and out whole; nothing is ever read in place from a payload.
template <typename T>
class PrimitiveTypeArray : public SerializableObject {
    static_assert(std::is_trivially_copyable<T>::value, "elements are copied byte for byte");

public:
    static constexpr unsigned int countSize = 2;
    static constexpr unsigned int maxCount = 0xFFFF;

    PrimitiveTypeArray() = default;
    ~PrimitiveTypeArray() override = default;

    unsigned int size() const { return static_cast<unsigned int>(elements.size()); }

    // Throws PException "Out of range" when index is not below size().
    const T& operator[](unsigned int index) const {
        if (index >= elements.size()) throwFailure("Out of range");
        return elements[index];
    }

    // Saturates at UINT_MAX rather than wrapping, so that a caller never
    // allocates a short buffer for an impossibly large array.
    unsigned int getSerializedSize() const override {
        const std::uint64_t needed = countSize + std::uint64_t{sizeof(T)} * elements.size();
        return needed > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(needed);
    }

    // Throws PException "Insufficient buffer size" when size is too small and
    // "Out of range" when the count does not fit its 16 bits; writes nothing then.
    unsigned int getSerialized(unsigned char* buffer, unsigned int size) const override {
        const unsigned int needed = getSerializedSize();
        if (needed > size) throwFailure("Insufficient buffer size");
        if (elements.size() > maxCount) throwFailure("Out of range");
        buffer[0] = static_cast<unsigned char>(elements.size() >> 8);
        buffer[1] = static_cast<unsigned char>(elements.size());
        if (!elements.empty()) std::memcpy(buffer + countSize, elements.data(), sizeof(T) * elements.size());
        return needed;
    }

    // Appends the payload's records after those already held. Returns false,
    // appending nothing, for a payload shorter than its count announces.
    // Bytes after the last record are ignored.
    bool setSerialized(const unsigned char* data, unsigned int size) override {
        if (size < countSize) return false;
        const std::size_t count = (std::size_t{data[0]} << 8) | data[1];
        if (size - countSize < std::uint64_t{sizeof(T)} * count) return false;
        if (count == 0) return true;
        const std::size_t held = elements.size();
        elements.resize(held + count);  // may throw std::bad_alloc; nothing changed then
        std::memcpy(elements.data() + held, data + countSize, sizeof(T) * count);
        return true;
    }

private:
    std::vector<T> elements;
};

}  // namespace HalmUi
}  // namespace HalmLib
