#pragma once
// The text of the std::runtime_error a call raises, for comparing messages.
#include <functional>
#include <stdexcept>
#include <string>

inline std::string raisedText(const std::function<void()>& raise) {
    try {
        raise();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<nothing raised>";
}
