// The name-value pairs of a parameters record: any bytes decode without
// reading outside the record, and pairs encoded the standard way (both
// length forms, any bytes in names and values) decode to exactly themselves.
#include "apps/web/service/request.h"
#include "fuzz/support/target.h"
#include "tools/fcgi-client/records.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <map>
#include <vector>

namespace {


// The raw bytes as one record's content, in a buffer of exactly their size
// so that the sanitizer sees any read past it.
void decodeRaw(const uint8_t* bytes, size_t size) {
    std::vector<unsigned char> content(bytes, bytes + size);
    Request request(nullptr, -1, 0);
    request.addParams(content.data(), static_cast<int>(content.size()));
    size_t decoded = 0;
    for (const auto& [name, value] : request.params) decoded += name.size() + value.size();
    FUZZ_EXPECT(decoded <= size, "pairs hold more bytes than the record");

    unsigned char* p = content.data();
    int remaining = static_cast<int>(content.size());
    while (remaining > 0) {
        int before = remaining;
        int length = Request::getLength(p, remaining);
        FUZZ_EXPECT(remaining >= 0 && remaining < before, "a length took no bytes or too many");
        if (length < 0) break;
        FUZZ_EXPECT(p == content.data() + content.size() - remaining, "position and remaining disagree");
    }
}

void roundTrip(FuzzedDataProvider& data) {
    std::map<std::string, std::string> pairs;
    std::string content;
    while (data.remaining_bytes() > 0) {
        std::string name = data.ConsumeRandomLengthString(200);
        if (name.empty()) name = "N";  // an empty pair ends the record
        std::string value = data.ConsumeBool() ? std::string(data.ConsumeIntegralInRange(0, 1000), 'v')
                                               : data.ConsumeRandomLengthString(300);
        content += fcgiwire::pair(name, value);
        pairs.insert_or_assign(name, value);
    }
    Request request(nullptr, -1, 0);
    std::vector<unsigned char> bytes(content.begin(), content.end());
    request.addParams(bytes.data(), static_cast<int>(bytes.size()));
    FUZZ_EXPECT(request.params == pairs, "well-formed pairs did not decode to themselves");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    decodeRaw(bytes, size);
    FuzzedDataProvider data(bytes, size);
    roundTrip(data);
    return 0;
}
