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

inline std::string record(uint8_t type, uint16_t requestId, std::string_view content, uint8_t padding = 0) {
    Header header = encodeHeader({1, type, requestId, static_cast<uint16_t>(content.size()), padding});
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(content);
    bytes.append(padding, '\0');
    return bytes;
}

inline std::string begin(uint16_t requestId, bool keepConnection, uint16_t role = 1) {
    std::string body = {static_cast<char>(role >> 8), static_cast<char>(role & 0xff),
                        static_cast<char>(keepConnection ? 1 : 0), 0, 0, 0, 0, 0};
    return record(BeginRequest, requestId, body);
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
        Fields header = decodeHeader(bytes.data() + offset);
        if (bytes.size() - offset < recordSize(header)) break;
        records.push_back({header.version, header.type, header.requestId, header.paddingLength,
                           std::string(bytes.substr(offset + HEADER_SIZE, header.contentLength))});
        offset += recordSize(header);
    }
    return offset;
}

}  // namespace fcgiwire
