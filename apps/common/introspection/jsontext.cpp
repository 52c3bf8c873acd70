#include "apps/common/introspection/jsontext.h"

#include "apps/common/introspection/escape.h"

#include <cstdio>

std::string jsontext::backslashEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string jsontext::unicodeEscaped(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': encoded += "\\u005c"; break;
        case '"': encoded += "\\u0022"; break;
        case '\r': encoded += "\\u000d"; break;
        case '\n': encoded += "\\u000a"; break;
        case '\t': encoded += "\\u0009"; break;
        default: encoded += c; break;
        }
    }
    return encoded;
}

std::string jsontext::patternEscaped(std::string const& text) {
    return std::regex_replace(text, gEscapePattern, "\\$&");
}

void jsontext::setEscapePattern(std::string const& pattern) {
    gEscapePattern = std::regex(pattern, std::regex::ECMAScript);
}
