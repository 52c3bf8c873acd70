// Shows and sets the fields of the hardware info block and the boot register,
// so a board identity can be prepared by hand. Without explicit files it works
// only on stand-in files in place of the devices, never on the real hardware.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "apps/libs/lhwinfo/hwinfo.h"

namespace {

const char* const USAGE =
    "usage: hwinfo [--register FILE] [--block FILE] [show | get NAME | set NAME=VALUE... | clear]\n"
    "  show               list every field (the default)\n"
    "  get NAME           print one field\n"
    "  set NAME=VALUE...  set fields; the checksum follows\n"
    "  clear              reset the block to its defaults\n"
    "Without --register and --block the device paths are used, and only when they are\n"
    "regular files standing in for the devices. An image file holds the register word\n"
    "at byte 0x020CC068 (a sparse file of 0x020CC06C bytes will do) and the block at\n"
    "byte 0x100000 (at least 0x110000 bytes).\n";

struct Options {
    const char* registerPath = nullptr;
    const char* blockPath = nullptr;
    std::vector<const char*> command;
};

bool parse(int argc, char** argv, Options& options) {
    for (int index = 1; index < argc; ++index) {
        bool hasValue = index + 1 < argc;
        if (strcmp(argv[index], "--register") == 0 && hasValue)
            options.registerPath = argv[++index];
        else if (strcmp(argv[index], "--block") == 0 && hasValue)
            options.blockPath = argv[++index];
        else if (argv[index][0] == '-')
            return false;
        else
            options.command.push_back(argv[index]);
    }
    return true;
}

// A device path is taken only when something put a regular file in its place.
bool isStandIn(const char* path) {
    struct stat status;
    if (stat(path, &status) == 0 && S_ISREG(status.st_mode)) return true;
    fprintf(stderr, "hwinfo: %s is not a stand-in file; give --register and --block to use image files\n", path);
    return false;
}

bool setAll(HwInfo& info, const std::vector<const char*>& assignments) {
    for (const char* assignment : assignments) {
        try {
            if (!info.write(std::string(assignment))) {
                fprintf(stderr, "hwinfo: %s: no such field, or no '='\n", assignment);
                return false;
            }
        } catch (const std::logic_error&) {  // the number parser's errors
            fprintf(stderr, "hwinfo: %s: not a number\n", assignment);
            return false;
        }
    }
    return true;
}

int run(HwInfo& info, const std::vector<const char*>& command) {
    std::string verb = command.empty() ? "show" : command[0];
    std::vector<const char*> arguments(command.begin() + (command.empty() ? 0 : 1), command.end());
    if (verb == "show" && arguments.empty()) {
        info.printAll();
        return 0;
    }
    if (verb == "get" && arguments.size() == 1) {
        std::string text;
        if (!info.read(arguments[0], text)) {
            fprintf(stderr, "hwinfo: %s: no such field\n", arguments[0]);
            return 1;
        }
        printf("%s\n", text.c_str());
        return 0;
    }
    if (verb == "set" && !arguments.empty()) return setAll(info, arguments) ? 0 : 1;
    if (verb == "clear" && arguments.empty()) {
        info.clear();
        return 0;
    }
    fputs(USAGE, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        fputs(USAGE, stderr);
        return 2;
    }
    const char* registerPath = options.registerPath ? options.registerPath : HwInfo::REGISTER_DEVICE;
    const char* blockPath = options.blockPath ? options.blockPath : HwInfo::BLOCK_DEVICE;
    if ((!options.registerPath && !isStandIn(registerPath)) || (!options.blockPath && !isStandIn(blockPath))) return 2;
    try {
        HwInfo info(registerPath, blockPath);
        info.initialize();
        return run(info, options.command);
    } catch (const std::runtime_error& error) {
        fprintf(stderr, "hwinfo: %s\n", error.what());
        return 1;
    }
}
