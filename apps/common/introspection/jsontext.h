#pragma once
// The encodings of text inside a JSON string that the API uses, one per
// kind of answer; each name says what it does to the text.
#include <string>
#include <string_view>

namespace jsontext {
// Standard escaping: quote and backslash get a backslash, other control
// characters become \u00XX. The app's answers (device names, file names).
std::string backslashEscaped(std::string_view text);

// Backslash, quote, CR, LF and tab as \u005c, \u0022, \u000d, \u000a and
// \u0009; every other byte as it is. The error texts of the web API.
std::string unicodeEscaped(std::string_view text);

// A backslash before every match of the escape pattern (string fields
// inside structure descriptions); the text unchanged while no pattern is set.
std::string patternEscaped(std::string const& text);
// Replaces the pattern (ECMAScript); an invalid one raises and keeps the old.
void setEscapePattern(std::string const& pattern);
}  // namespace jsontext
