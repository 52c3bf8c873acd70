// The one-level tokenizer behind set.cgi's bodies; the nested walk of a real
// body is covered by e2e/app_device.sh.
#include "apps/common/introspection/json.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {
using Entry = std::pair<std::string, std::pair<std::string, bool>>;

std::vector<Entry> flatten(Json const& reader) {
    std::vector<Entry> flat;
    for (auto const& [key, value] : reader.entries) flat.push_back({key, {value.value, value.isObject}});
    return flat;
}

std::vector<Entry> entriesOf(std::string const& text, bool expectedResult = true) {
    Json reader;
    EXPECT_EQ(reader.parse(text), expectedResult) << text;
    return flatten(reader);
}

int failureAt(std::string const& text) {
    Json reader;
    EXPECT_FALSE(reader.parse(text)) << text;
    return reader.errorPos;
}
}  // namespace

TEST(JsonTokenizer, SplitsOneLevelKeepingNestedValuesAsText) {
    EXPECT_EQ(entriesOf(R"({"a":1,"b":"x y","c":[1,2],"d":{"e":2}})"),
              (std::vector<Entry>{{"a", {"1", false}},
                                  {"b", {"x y", false}},
                                  {"c", {"[1,2]", true}},
                                  {"d", {R"({"e":2})", true}}}));
    EXPECT_EQ(entriesOf("{'a':'x'}"), (std::vector<Entry>{{"a", {"x", false}}}));
    EXPECT_EQ(entriesOf("{\"a\": true }"), (std::vector<Entry>{{"a", {"true", false}}}));
    EXPECT_EQ(entriesOf("{\r\n\t\"a\" :\n-1.5e3,\"b\":null}"),
              (std::vector<Entry>{{"a", {"-1.5e3", false}}, {"b", {"null", false}}}));
}

TEST(JsonTokenizer, ArraysGiveEntriesWithoutKeys) {
    EXPECT_EQ(entriesOf(R"([1, "x"])"), (std::vector<Entry>{{"", {"1", false}}, {"", {"x", false}}}));
    EXPECT_EQ(entriesOf("[[1,[2]],{}]"), (std::vector<Entry>{{"", {"[1,[2]]", true}}, {"", {"{}", true}}}));
}

TEST(JsonTokenizer, KeysEndAtTheirQuoteOrAtColonAndWhitespaceWhenBare) {
    EXPECT_EQ(entriesOf(R"({"my key":1})"), (std::vector<Entry>{{"my key", {"1", false}}}));
    EXPECT_EQ(entriesOf(R"({"a:b" : 'c'})"), (std::vector<Entry>{{"a:b", {"c", false}}}));
    EXPECT_EQ(entriesOf("{bare:1,other :2}"),
              (std::vector<Entry>{{"bare", {"1", false}}, {"other", {"2", false}}}));
}

TEST(JsonTokenizer, BracketsAreCountedForTheValuesOwnKindOnlyAndQuotesIgnoreThem) {
    EXPECT_EQ(entriesOf(R"({"a":"}"})"), (std::vector<Entry>{{"a", {"}", false}}}));
    EXPECT_EQ(entriesOf(R"({"a":[{]})"), (std::vector<Entry>{{"a", {"[{]", true}}}));
    // A closing brace inside a quoted text of a nested object still closes it.
    Json reader;
    EXPECT_FALSE(reader.parse(R"({"a":{"b":"}"}})"));
    EXPECT_EQ(flatten(reader), (std::vector<Entry>{{"a", {R"({"b":"})", true}}}));
    EXPECT_EQ(reader.errorPos, 12);
}

TEST(JsonTokenizer, SyntaxErrorsReportTheOffendingIndexAndKeepEarlierEntries) {
    std::pair<char const*, int> const failures[] = {{"{\"a\" 1}", 5},   {"x", 0},         {"   x", 3}, {"{\"a\":1} x", 8},
                                                    {"{\"a\":1}}", 7}, {"{my key:1}", 4}, {"{\"a\":\"x\" \"b\":1}", 9}};
    for (auto [text, at] : failures) EXPECT_EQ(failureAt(text), at) << text;

    Json reader;
    EXPECT_FALSE(reader.parse(R"({"a":"x\"y"})"));
    EXPECT_EQ(reader.errorPos, 9);
    EXPECT_EQ(reader.state, Json::Next);
    EXPECT_EQ(flatten(reader), (std::vector<Entry>{{"a", {"x\\", false}}}));
}

TEST(JsonTokenizer, UnfinishedDocumentsAreNotErrorsButYieldNoPartialEntry) {
    for (char const* text : {"", "{\"a\":1", "{\"a\":\"xyz", "{\"a\":[1,2", "{"}) EXPECT_TRUE(entriesOf(text).empty());
    EXPECT_EQ(entriesOf("{\"a\":1,\"b"), (std::vector<Entry>{{"a", {"1", false}}}));

    Json reader;
    EXPECT_TRUE(reader.parse("{\"a\":1}"));
    EXPECT_FALSE(reader.parse("x"));
    EXPECT_TRUE(reader.parse(""));
    EXPECT_EQ(reader.errorPos, -1) << "every parse starts without an error";
}

TEST(JsonTokenizer, HostileBodiesEndInAResultWithoutHarm) {
    std::string deep = "{\"a\":" + std::string(100000, '[');
    EXPECT_TRUE(entriesOf(deep).empty());
    std::string closed = "{\"a\":" + std::string(5000, '{') + std::string(5000, '}') + "}";
    auto entries = entriesOf(closed);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].second.first.size(), 10000u);

    std::string longText = "{\"a\":\"" + std::string(10240, 'x') + "\"}";
    EXPECT_EQ(entriesOf(longText)[0].second.first.size(), 10240u);

    // Bytes beyond ASCII are carried through as they are.
    EXPECT_EQ(entriesOf("{\"\xff\xfe\":\"\xc3\x28\x80\"}"),
              (std::vector<Entry>{{"\xff\xfe", {"\xc3\x28\x80", false}}}));

    // A NUL byte is kept inside a key; in a bare value it matches the unset
    // closing character and ends the value, so the next letter is an error.
    std::string withNul("{\"k\0y\":v\0w}", 11);
    Json reader;
    EXPECT_FALSE(reader.parse(withNul));
    EXPECT_EQ(reader.errorPos, 9);
    EXPECT_EQ(flatten(reader), (std::vector<Entry>{{std::string("k\0y", 3), {"v", false}}}));
}
