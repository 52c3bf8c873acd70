// The name-value pairs of a parameters record: any bytes decode without
// reading outside the record, and pairs encoded the standard way (both
// length forms, any bytes in names and values) decode to exactly themselves.
#include "apps/web/service/fcgirecord.h"
#include "fuzz/support/target.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Pairs = std::map<std::string, std::string>;

Pairs decoded(std::string_view content) {
    Pairs pairs;
    fcgirecord::decodePairs(content, [&](std::string_view name, std::string_view value) {
        pairs.insert_or_assign(std::string(name), std::string(value));
    });
    return pairs;
}

// The raw bytes as one record's content, in a buffer of exactly their size
// so that the sanitizer sees any read past it.
void decodeRaw(const uint8_t* bytes, size_t size) {
    std::vector<char> content(bytes, bytes + size);
    size_t total = 0;
    for (const auto& [name, value] : decoded({content.data(), content.size()})) total += name.size() + value.size();
    FUZZ_EXPECT(total <= size, "pairs hold more bytes than the record");

    for (std::string_view rest(content.data(), content.size()); !rest.empty();) {
        size_t before = rest.size();
        bool whole = fcgirecord::decodeLength(rest).has_value();
        FUZZ_EXPECT(rest.size() < before, "a length took no bytes");
        if (!whole) FUZZ_EXPECT(rest.empty(), "a cut length left bytes behind");
    }
}

void roundTrip(FuzzedDataProvider& data) {
    Pairs pairs;
    std::string content;
    while (data.remaining_bytes() > 0) {
        std::string name = data.ConsumeRandomLengthString(200);
        if (name.empty()) name = "N";  // an empty pair ends the record
        std::string value = data.ConsumeBool() ? std::string(data.ConsumeIntegralInRange(0, 1000), 'v')
                                               : data.ConsumeRandomLengthString(300);
        content += fcgirecord::encodePair(name, value);
        pairs.insert_or_assign(name, value);
    }
    FUZZ_EXPECT(decoded(content) == pairs, "well-formed pairs did not decode to themselves");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    decodeRaw(bytes, size);
    FuzzedDataProvider data(bytes, size);
    roundTrip(data);
    return 0;
}
