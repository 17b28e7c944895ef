#pragma once

namespace HalmLib {

// An object that the management service can fill from, or read into, a flat
// byte form. The service client hands a reply to setSerialized; a sender asks
// for getSerializedSize bytes and lets getSerialized write them.
class SerializableObject {
public:
    virtual ~SerializableObject() = default;

    // Writes the serialized form into buffer (size bytes) and returns its
    // length. Throws HalmLib::PException "Insufficient buffer size" when size
    // is smaller than getSerializedSize(), writing nothing.
    virtual unsigned int getSerialized(unsigned char* buffer, unsigned int size) const = 0;

    // The number of bytes getSerialized needs.
    virtual unsigned int getSerializedSize() const = 0;

    // Takes content from data (size bytes): what becomes of content held
    // before is the class's own (PrimitiveTypeArray appends). Returns false,
    // and leaves the object unchanged, when the data is malformed. data is
    // the caller's, and not kept.
    virtual bool setSerialized(const unsigned char* data, unsigned int size) = 0;
};

}  // namespace HalmLib
