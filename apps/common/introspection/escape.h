#pragma once
// Process-wide escape pattern of the value output (ECMAScript). It is defined
// beside the generated catalogue tables so that it is constructed before them.
#include <regex>

extern std::regex gEscapePattern;
