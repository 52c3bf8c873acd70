#pragma once
// Reading and writing single variables as text through the catalogue and its
// setters, so a person can inspect and change the device's state from a shell.
#include <string>
#include <vector>

namespace store {
// get NAME [INDEX]: the value's text; every element of a list of structures
// (one per line) unless INDEX names one.
int getCommand(std::vector<std::string> const& arguments);
// set NAME VALUE [INDEX]: writes the text, or for a structure the fields of a
// JSON object, and posts the change event through the broker when one runs.
int setCommand(std::vector<std::string> const& arguments);
}  // namespace store
