#pragma once
// Reference tables kept under tests/data: one record a line, words separated by blanks,
// lines starting with '#' are comments.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using Record = std::vector<std::string>;

inline std::vector<Record> readDataFile(std::string const& name) {
    std::ifstream file(std::string(SOURCE_DIR) + "/tests/data/" + name);
    if (!file) throw std::runtime_error("missing test data " + name);
    std::vector<Record> records;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Record record;
        for (std::string word; words >> word;) record.push_back(word);
        records.push_back(record);
    }
    return records;
}
