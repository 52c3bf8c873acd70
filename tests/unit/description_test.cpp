#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/introspection.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

namespace {
// Matches a backslash or a double quote: the characters hand-built JSON must escape.
constexpr char QUOTE_AND_BACKSLASH[] = R"([\\"])";

class EscapeTest : public testing::Test {
protected:
    void SetUp() override { gEscapePattern = std::regex(); }
    void TearDown() override { gEscapePattern = std::regex(); }
};
}  // namespace

TEST(ValueDescription, PrintValueIsCompactWithAlphabeticalKeys) {
    EXPECT_EQ(Introspection::printValue("12", "int", "0", "65535"),
              R"({"max":"65535","min":"0","type":"int","value":"12"})");
    EXPECT_EQ(Introspection::printValue("", "", "", ""), R"({"max":"","min":"","type":"","value":""})");
}

TEST(ValueDescription, PrintValueEscapesAsJsonRequiresAndPassesOtherBytes) {
    EXPECT_EQ(Introspection::printValue("a\"b\\c\nd\te\x01", "string", "0", "0"),
              R"({"max":"0","min":"0","type":"string","value":"a\"b\\c\nd\te\u0001"})");
    EXPECT_EQ(Introspection::printValue("25\xc2\xb5m \xe2\x86\x92", "string", "0", "0"),
              "{\"max\":\"0\",\"min\":\"0\",\"type\":\"string\",\"value\":\"25\xc2\xb5m \xe2\x86\x92\"}");
    EXPECT_THROW(Introspection::printValue("\xc3\x28", "string", "0", "0"), nlohmann::json::type_error);
}

TEST(ValueDescription, PrintBoolHasItsFixedForm) {
    EXPECT_EQ(Introspection::printBool(true), R"({ "value": "true", "type": "bool", "textid": [ "false", "true" ]})");
    EXPECT_EQ(Introspection::printBool(false),
              R"({ "value": "false", "type": "bool", "textid": [ "false", "true" ]})");
}

TEST_F(EscapeTest, TextIsUnchangedUntilAPatternIsSet) {
    EXPECT_EQ(Introspection::escape(R"(a"b\c)"), R"(a"b\c)");
}

TEST_F(EscapeTest, QuotesAndBackslashesGetABackslashBefore) {
    Introspection::setEscapeCharacters(QUOTE_AND_BACKSLASH);
    EXPECT_EQ(Introspection::escape(R"(a"b\c)"), R"(a\"b\\c)");
    EXPECT_EQ(Introspection::escape(R"(\\"")"), R"(\\\\\"\")");
    EXPECT_EQ(Introspection::escape("plain text \xc2\xb5"), "plain text \xc2\xb5");
    EXPECT_EQ(Introspection::escape(""), "");
}

TEST_F(EscapeTest, AnInvalidPatternRaisesAndKeepsThePreviousOne) {
    Introspection::setEscapeCharacters(QUOTE_AND_BACKSLASH);
    EXPECT_THROW(Introspection::setEscapeCharacters("[unclosed"), std::regex_error);
    EXPECT_EQ(Introspection::escape(R"(a"b)"), R"(a\"b)");
    Introspection::setEscapeCharacters("x");
    EXPECT_EQ(Introspection::escape(R"(x"x)"), R"(\x"\x)");
}
