#pragma once
// The client side of the FastCGI record format: builds the records a web
// server sends and decodes the ones an application answers with. Shared by
// the fcgi-client tool and the tests.
#include "apps/web/service/fcgirecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fcgiwire {

using namespace fcgirecord;
constexpr size_t HEADER_SIZE = sizeof(Header);
constexpr size_t MAX_CONTENT = 65535;

inline std::string record(uint8_t type, uint16_t requestId, std::string_view content, uint8_t padding = 0) {
    std::string bytes = {1,
                         static_cast<char>(type),
                         static_cast<char>(requestId >> 8),
                         static_cast<char>(requestId & 0xff),
                         static_cast<char>(content.size() >> 8),
                         static_cast<char>(content.size() & 0xff),
                         static_cast<char>(padding),
                         0};
    bytes.append(content);
    bytes.append(padding, '\0');
    return bytes;
}

inline std::string begin(uint16_t requestId, bool keepConnection, uint16_t role = 1) {
    std::string body = {static_cast<char>(role >> 8), static_cast<char>(role & 0xff),
                        static_cast<char>(keepConnection ? 1 : 0), 0, 0, 0, 0, 0};
    return record(BeginRequest, requestId, body);
}

// Below 128 one byte; otherwise four bytes, big-endian, top bit set.
inline std::string length(uint32_t value) {
    if (value < 128) return std::string(1, static_cast<char>(value));
    return {static_cast<char>((value >> 24) | 0x80), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

inline std::string pair(std::string_view name, std::string_view value) {
    return length(name.size()) + length(value.size()) + std::string(name) + std::string(value);
}

// A stream (parameters, standard input) as records of at most `chunk` bytes
// each, closed by the empty record.
inline std::string stream(uint8_t type, uint16_t requestId, std::string_view data, size_t chunk = MAX_CONTENT) {
    std::string bytes;
    for (size_t offset = 0; offset < data.size(); offset += chunk)
        bytes += record(type, requestId, data.substr(offset, chunk));
    return bytes + record(type, requestId, "");
}

struct Record {
    uint8_t version;
    uint8_t type;
    uint16_t requestId;
    uint8_t padding;
    std::string content;
};

// Decodes the complete records at the front of `bytes`; returns how many
// bytes they took.
inline size_t decode(std::string_view bytes, std::vector<Record>& records) {
    size_t offset = 0;
    while (bytes.size() - offset >= HEADER_SIZE) {
        auto byte = [&](size_t at) { return static_cast<uint8_t>(bytes[offset + at]); };
        size_t contentLength = byte(4) << 8 | byte(5);
        size_t size = HEADER_SIZE + contentLength + byte(6);
        if (bytes.size() - offset < size) break;
        records.push_back({byte(0), byte(1), static_cast<uint16_t>(byte(2) << 8 | byte(3)), byte(6),
                           std::string(bytes.substr(offset + HEADER_SIZE, contentLength))});
        offset += size;
    }
    return offset;
}

}  // namespace fcgiwire
