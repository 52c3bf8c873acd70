// Times reading every variable of the store as text, the way one all.cgi
// answer does, against a plain copy-and-format walk over the same bytes.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/introspection/setters.h"
#include "apps/common/introspection/valuetext.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
struct Totals {
    std::size_t variables = 0;
    std::size_t bytes = 0;
};

// Elements of a list of structures; 1 for everything else.
int elementCount(unsigned int mem, unsigned int var) {
    bool list = Introspection::getVarBaseType(mem, var) == TypeStruct && Introspection::isArray(mem, var);
    return list ? std::atoi(Introspection::getVarArrayLen(mem, var)) : 1;
}

// What one all.cgi answer computes per variable when nothing is kept: its
// text and its description.
std::string describe(unsigned int mem, unsigned int var, int index) {
    VariableInfo const& info = Introspection::variable(mem, var);
    return describeValue(mem, var, static_cast<char*>(*info.memory) + info.offset, index);
}

template <typename Reader>
Totals walk(Reader read) {
    Totals totals;
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            int count = elementCount(mem, var);
            for (int index = 0; index < count; ++index) totals.bytes += read(mem, var, index);
            ++totals.variables;
        }
    }
    return totals;
}

// The baseline: copy each value's bytes and print every 32-bit word of it in
// decimal, with no catalogue dispatch and no description.
std::size_t copyAndFormat(unsigned int mem, unsigned int var, int index) {
    static char scratch[16384];
    static char text[16];
    VariableInfo const& info = Introspection::variable(mem, var);
    std::size_t size = valueSize(info);
    std::memcpy(scratch, static_cast<char*>(*info.memory) + info.offset + std::size_t(index) * size, size);
    std::size_t produced = 0;
    for (std::size_t at = 0; at < size; at += 4) {
        int word;
        std::memcpy(&word, scratch + at, 4);
        produced += static_cast<std::size_t>(std::snprintf(text, sizeof text, "%d,", word));
    }
    return produced;
}

template <typename Reader>
double secondsPerWalk(Reader read, int rounds, Totals& totals) {
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) totals = walk(read);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

constexpr int TRIALS = 7;

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void report(char const* name, Totals const& totals, double seconds) {
    std::printf("%-22s %9.3f ms/walk %12.0f variables/s %10.1f MB/s of text (%zu bytes per walk)\n", name,
                seconds * 1e3, totals.variables / seconds, totals.bytes / seconds / 1e6, totals.bytes);
}
// Plausible contents: every string half full, numbers and enumeration
// entries varying from variable to variable.
void fillVariable(VariableInfo const& info, char* address, unsigned int seed) {
    switch (info.baseType) {
    case TypeInt: {
        int value = static_cast<int>(seed * 2654435761u % 100000);
        std::memcpy(address, &value, 4);
        break;
    }
    case TypeFloat: {
        float value = static_cast<float>(seed % 1000) / 7.0f;
        std::memcpy(address, &value, 4);
        break;
    }
    case TypeBool:
        *address = seed % 2;
        break;
    case TypeString: {
        std::size_t capacity = std::strtoul(info.arrayLength, nullptr, 10);
        std::memset(address, 'a' + seed % 26, capacity / 2);
        address[capacity / 2] = '\0';
        break;
    }
    case TypeBuffer:
        std::memset(address, static_cast<int>(seed), std::strtoul(info.arrayLength, nullptr, 10));
        break;
    case TypeEnum: {
        int entry = static_cast<int>(seed % IntrospectionEnum::getEnumEntryCount(
                                                IntrospectionEnum::getEnumIndex(info.typeName)));
        std::memcpy(address, &entry, 4);
        break;
    }
    case TypeStruct:
        break;
    }
}

void fillStore() {
    for (unsigned int area = 0; area < gen::AREA_COUNT; ++area) {
        gen::gAreas[area].create();
        *gen::AREA_POINTERS[area] = gen::gAreas[area].address();
    }
    unsigned int seed = 0;
    for (unsigned int mem = 0; mem < Introspection::getMemCount(); ++mem) {
        for (unsigned int var = 0; var < Introspection::getVarCount(mem); ++var) {
            VariableInfo const& info = Introspection::variable(mem, var);
            fillVariable(info, static_cast<char*>(*info.memory) + info.offset, ++seed);
        }
    }
}
}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (rounds <= 0) rounds = 1;
    fillStore();
    // As the service runs: texts inside structures are escaped.
    jsontext::setEscapePattern(R"([\\"])");
    auto valueText = [](unsigned int mem, unsigned int var, int index) {
        return Introspection::getVarValue(mem, var, index).size();
    };
    auto descriptionText = [](unsigned int mem, unsigned int var, int index) {
        return describe(mem, var, index).size();
    };
    // Interleaved trials and their medians, so that a busy moment of the
    // machine spoils one trial of each kind rather than one kind.
    Totals values, described, baseline;
    std::vector<double> valueTimes, describedTimes, baselineTimes;
    for (int trial = 0; trial < TRIALS; ++trial) {
        valueTimes.push_back(secondsPerWalk(valueText, rounds, values));
        describedTimes.push_back(secondsPerWalk(descriptionText, rounds, described));
        baselineTimes.push_back(secondsPerWalk(copyAndFormat, rounds, baseline));
    }
    double valueSeconds = median(valueTimes);
    double describedSeconds = median(describedTimes);
    double baselineSeconds = median(baselineTimes);
    std::printf("median of %d trials of %d walks over %zu variables\n", TRIALS, rounds, values.variables);
    report("value text", values, valueSeconds);
    report("value descriptions", described, describedSeconds);
    report("baseline copy+snprintf", baseline, baselineSeconds);
    std::printf("ratio value text / baseline time: %.2f\n", valueSeconds / baselineSeconds);
    std::printf("ratio descriptions / baseline time: %.2f\n", describedSeconds / baselineSeconds);
    return 0;
}
