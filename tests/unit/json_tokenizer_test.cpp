// The one-level tokenizer behind set.cgi's bodies; the nested walk of a real
// body is covered by e2e/app_device.sh.
#include "apps/common/introspection/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// The entries as "key=value", or "key:value" for a nested one, joined by '|'.
std::string flatten(Json const& reader) {
    std::string flat;
    for (auto const& [key, value] : reader.entries)
        flat += (flat.empty() ? "" : "|") + key + (value.isObject ? ":" : "=") + value.value;
    return flat;
}
}  // namespace

TEST(JsonTokenizer, SplitsOneLevelAndReportsWhereItFailedKeepingEarlierEntries) {
    struct Case {
        std::string text;
        int errorAt;  // -1: parsed
        std::string entries;
    } const cases[] = {
        {R"({"a":1,"b":"x y","c":[1,2],"d":{"e":2}})", -1, R"(a=1|b=x y|c:[1,2]|d:{"e":2})"},
        {"{'a':'x'}", -1, "a=x"},
        {"{\"a\": true }", -1, "a=true"},
        {"{\r\n\t\"a\" :\n-1.5e3,\"b\":null}", -1, "a=-1.5e3|b=null"},
        // Arrays give entries without keys.
        {R"([1, "x"])", -1, "=1|=x"},
        {"[[1,[2]],{}]", -1, ":[1,[2]]|:{}"},
        // Keys end at their quote, or at a colon or whitespace when bare.
        {R"({"my key":1})", -1, "my key=1"},
        {R"({"a:b" : 'c'})", -1, "a:b=c"},
        {"{bare:1,other :2}", -1, "bare=1|other=2"},
        {"{my key:1}", 4, ""},
        // Brackets count for the value's own kind only, and quotes hide them
        // except that a closing brace in a nested object's text still closes it.
        {R"({"a":"}"})", -1, "a=}"},
        {R"({"a":[{]})", -1, "a:[{]"},
        {R"({"a":{"b":"}"}})", 12, R"(a:{"b":"})"},
        {"{\"a\" 1}", 5, ""},
        {"x", 0, ""},
        {"   x", 3, ""},
        {"{\"a\":1} x", 8, "a=1"},
        {"{\"a\":1}}", 7, "a=1"},
        {"{\"a\":\"x\" \"b\":1}", 9, "a=x"},
        {R"({"a":"x\"y"})", 9, "a=x\\"},
        // Unfinished documents are no errors but yield no partial entry.
        {"", -1, ""},
        {"{", -1, ""},
        {"{\"a\":1", -1, ""},
        {"{\"a\":\"xyz", -1, ""},
        {"{\"a\":[1,2", -1, ""},
        {"{\"a\":1,\"b", -1, "a=1"},
        // Hostile bodies end in a result without harm; bytes beyond ASCII are
        // carried through as they are.
        {"{\"a\":" + std::string(100000, '['), -1, ""},
        {"{\"a\":" + std::string(5000, '{') + std::string(5000, '}') + "}", -1,
         "a:" + std::string(5000, '{') + std::string(5000, '}')},
        {"{\"a\":\"" + std::string(10240, 'x') + "\"}", -1, "a=" + std::string(10240, 'x')},
        {"{\"\xff\xfe\":\"\xc3\x28\x80\"}", -1, "\xff\xfe=\xc3\x28\x80"},
        // A NUL byte is kept inside a key; in a bare value it matches the unset
        // closing character and ends the value, so the next letter is an error.
        {std::string("{\"k\0y\":v\0w}", 11), 9, std::string("k\0y=v", 5)},
    };
    for (Case const& c : cases) {
        Json reader;
        EXPECT_EQ(reader.parse(c.text), c.errorAt < 0) << c.text.substr(0, 40);
        EXPECT_EQ(reader.errorPos, c.errorAt) << c.text.substr(0, 40);
        EXPECT_EQ(flatten(reader), c.entries) << c.text.substr(0, 40);
    }
}
