#pragma once
// The FastCGI record format, version 1: the 8-byte header and the record
// types. Shared by the server and our own client.
#include <cstdint>

namespace fcgirecord {

// Multi-byte fields are big-endian, as on the wire.
struct Header {
    uint8_t version;
    uint8_t type;
    uint16_t requestId;
    uint16_t contentLength;
    uint8_t paddingLength;
    uint8_t reserved;
};
static_assert(sizeof(Header) == 8, "the record header is 8 bytes on the wire");

enum RecordType : uint8_t {
    BeginRequest = 1,
    AbortRequest = 2,
    EndRequest = 3,
    Params = 4,
    Stdin = 5,
    Stdout = 6,
    Stderr = 7,
    GetValuesResult = 10,  // the highest type defined
};

}  // namespace fcgirecord
