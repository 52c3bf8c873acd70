#pragma once
// The FastCGI record format, version 1: the 8-byte header, the record types,
// the padding and the name-value pairs of parameter records. Small pure
// functions, the one codec of both the server and our own client.
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
constexpr size_t HEADER_SIZE = sizeof(Header);
constexpr size_t MAX_CONTENT = 65535;

enum RecordType : uint8_t {
    BeginRequest = 1,
    AbortRequest = 2,
    EndRequest = 3,
    Params = 4,
    Stdin = 5,
    Stdout = 6,
    Stderr = 7,
    Data = 8,
    GetValues = 9,
    GetValuesResult = 10,
    UnknownType = 11,
};

// The one role served, and the keep-connection bit of a begin record's flags.
constexpr uint16_t RESPONDER = 1;
constexpr uint8_t KEEP_CONN = 1;
// Records with this request id are management records, about the connection.
constexpr uint16_t MANAGEMENT_ID = 0;
constexpr size_t BEGIN_BODY_SIZE = 8;

// A header's fields in host order.
struct Fields {
    uint8_t version;
    uint8_t type;
    uint16_t requestId;
    uint16_t contentLength;
    uint8_t paddingLength;
};

inline Header encodeHeader(const Fields& fields) {
    return {fields.version, fields.type, htons(fields.requestId), htons(fields.contentLength), fields.paddingLength, 0};
}

// The header at the front of `bytes`, which hold at least HEADER_SIZE bytes.
inline Fields decodeHeader(const void* bytes) {
    const auto* byte = static_cast<const uint8_t*>(bytes);
    return {byte[0], byte[1], static_cast<uint16_t>(byte[2] << 8 | byte[3]), static_cast<uint16_t>(byte[4] << 8 | byte[5]),
            byte[6]};
}

// A begin record's body: its role and whether the connection is kept.
struct Begin {
    uint16_t role;
    bool keepConnection;
};
inline Begin decodeBegin(std::string_view body) {
    auto byte = [&](size_t at) { return static_cast<uint8_t>(body[at]); };
    return {static_cast<uint16_t>(byte(0) << 8 | byte(1)), (byte(2) & KEEP_CONN) != 0};
}

// The body of an unknown-type record: the type not understood, then 7 zero bytes.
inline std::string encodeUnknownType(uint8_t type) {
    std::string body(8, '\0');
    body[0] = static_cast<char>(type);
    return body;
}

// Header, content and padding.
inline size_t recordSize(const Fields& fields) {
    return HEADER_SIZE + fields.contentLength + fields.paddingLength;
}

// What brings a record's content to a multiple of 8 bytes.
inline uint8_t paddingFor(size_t contentLength) {
    return static_cast<uint8_t>((8 - contentLength % 8) % 8);
}

// A name or value length: below 128 one byte; otherwise four bytes,
// big-endian, top bit set.
inline std::string encodeLength(uint32_t value) {
    if (value < 128) return std::string(1, static_cast<char>(value));
    return {static_cast<char>((value >> 24) | 0x80), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

inline std::string encodePair(std::string_view name, std::string_view value) {
    return encodeLength(static_cast<uint32_t>(name.size())) + encodeLength(static_cast<uint32_t>(value.size())) +
           std::string(name) + std::string(value);
}

// Takes one length off the front of `bytes`; none when they end inside it
// (the cut bytes are taken too).
inline std::optional<uint32_t> decodeLength(std::string_view& bytes) {
    if (bytes.empty()) return std::nullopt;
    auto first = static_cast<uint8_t>(bytes[0]);
    if (first < 128) {
        bytes.remove_prefix(1);
        return first;
    }
    if (bytes.size() < 4) {
        bytes = {};
        return std::nullopt;
    }
    auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])); };
    uint32_t length = (first & 0x7fu) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    bytes.remove_prefix(4);
    return length;
}

// Calls `pair(name, value)` for each pair of a parameters record's content,
// up to the first that is cut short, empty in both parts or longer than
// what is left: the rest of such a record cannot be framed.
template <class Pair>
void decodePairs(std::string_view content, Pair pair) {
    while (!content.empty()) {
        std::optional<uint32_t> nameLength = decodeLength(content);
        std::optional<uint32_t> valueLength = decodeLength(content);
        if (!nameLength || !valueLength || (*nameLength == 0 && *valueLength == 0)) return;
        // Compared one at a time: the sum of two 31-bit lengths overflows 32 bits.
        if (*nameLength > content.size() || *valueLength > content.size() - *nameLength) return;
        pair(content.substr(0, *nameLength), content.substr(*nameLength, *valueLength));
        content.remove_prefix(*nameLength + *valueLength);
    }
}

}  // namespace fcgirecord
