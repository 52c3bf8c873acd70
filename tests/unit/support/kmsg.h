#pragma once
// Reads back what this process logged: inside the test sandbox /dev/kmsg is a
// regular file, so the records are plain lines appended to it.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace kmsg {

inline std::string all() {
    std::ifstream file("/dev/kmsg", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Marks the current end of the log, so a test sees only its own records.
class Cursor {
public:
    Cursor() : start(all().size()) {}
    std::string text() const { return all().substr(start); }
    size_t count(const std::string& needle) const {
        std::string haystack = text();
        size_t found = 0;
        for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++found;
        return found;
    }

private:
    size_t start;
};

// The "file:line " column as the logger writes it.
inline std::string location(const char* file, int line) {
    char field[64];
    snprintf(field, sizeof field, "%20s:%4i ", file, line);
    return field;
}

}  // namespace kmsg
