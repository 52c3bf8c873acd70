#pragma once
// The message of a raised error without the "file:line " column in front.
#include "raised.h"

#include <string>

inline std::string raisedReason(const std::function<void()>& raise) {
    std::string text = raisedText(raise);
    std::string::size_type colon = text.find(':');
    return colon == std::string::npos || text.size() < colon + 6 ? text : text.substr(colon + 6);
}
