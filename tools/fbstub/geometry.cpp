#include "tools/fbstub/geometry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
struct Field {
    const char* key;
    unsigned int StandInGeometry::*value;
};

const Field FIELDS[] = {
    {"xres", &StandInGeometry::xres},
    {"yres", &StandInGeometry::yres},
    {"xres_virtual", &StandInGeometry::xresVirtual},
    {"yres_virtual", &StandInGeometry::yresVirtual},
    {"bits_per_pixel", &StandInGeometry::bitsPerPixel},
    {"yoffset", &StandInGeometry::yoffset},
};
}  // namespace

std::string standInDevice() {
    const char* device = getenv("FBSTUB_DEVICE");
    return device != nullptr && *device != 0 ? device : "/dev/fb0";
}

std::string geometryPath(const std::string& device) {
    return device + ".geometry";
}

StandInGeometry readGeometry(const std::string& device) {
    StandInGeometry geometry;
    FILE* file = fopen(geometryPath(device).c_str(), "re");
    if (file == nullptr) return geometry;
    char line[128];
    while (fgets(line, sizeof line, file) != nullptr) {
        char* equals = strchr(line, '=');
        if (equals == nullptr) continue;
        *equals = 0;
        for (const Field& field : FIELDS)
            if (strcmp(line, field.key) == 0) geometry.*field.value = strtoul(equals + 1, nullptr, 10);
    }
    fclose(file);
    return geometry;
}

bool writeGeometry(const std::string& device, const StandInGeometry& geometry) {
    FILE* file = fopen(geometryPath(device).c_str(), "we");
    if (file == nullptr) return false;
    for (const Field& field : FIELDS) fprintf(file, "%s=%u\n", field.key, geometry.*field.value);
    return fclose(file) == 0;
}
