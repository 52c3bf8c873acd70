// Hand-built JSON: the value description escapes as JSON requires, and the
// escape pattern the structure texts use. Their exact forms are checked in
// values_struct_test.cpp.
#include "apps/common/introspection/escape.h"
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsontext.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

TEST(ValueDescription, PrintValueEscapesAsJsonRequiresAndPassesOtherBytes) {
    EXPECT_EQ(Introspection::printValue("a\"b\\c\nd\te\x01", "string", "0", "0"),
              R"({"max":"0","min":"0","type":"string","value":"a\"b\\c\nd\te\u0001"})");
    EXPECT_EQ(Introspection::printValue("25\xc2\xb5m \xe2\x86\x92", "string", "0", "0"),
              "{\"max\":\"0\",\"min\":\"0\",\"type\":\"string\",\"value\":\"25\xc2\xb5m \xe2\x86\x92\"}");
    EXPECT_THROW(Introspection::printValue("\xc3\x28", "string", "0", "0"), nlohmann::json::type_error);
}

TEST(Escape, QuotesAndBackslashesGetABackslashOnceAPatternIsSet) {
    gEscapePattern = std::regex();
    EXPECT_EQ(jsontext::patternEscaped(R"(a"b\c)"), R"(a"b\c)");
    jsontext::setEscapePattern(R"([\\"])");
    EXPECT_EQ(jsontext::patternEscaped(R"(\\"")"), R"(\\\\\"\")");
    EXPECT_EQ(jsontext::patternEscaped("plain text \xc2\xb5"), "plain text \xc2\xb5");
    // An invalid pattern raises and keeps the previous one.
    EXPECT_THROW(jsontext::setEscapePattern("[unclosed"), std::regex_error);
    EXPECT_EQ(jsontext::patternEscaped(R"(a"b)"), R"(a\"b)");
    jsontext::setEscapePattern("x");
    EXPECT_EQ(jsontext::patternEscaped(R"(x"x)"), R"(\x"\x)");
    gEscapePattern = std::regex();
}
