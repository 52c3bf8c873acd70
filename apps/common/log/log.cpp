#include "apps/common/log/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/uio.h>
#include <unistd.h>

gen::LogLevel* gComponentLogLevel = nullptr;

namespace {
// Static writer state: logging must never allocate, and the exception text is
// taken from the message buffer right after the record is written.
int kmsgFd = -1;
char prefix[24];
char message[512];
iovec pieces[4];
char newline[] = "\n";

const char* const LEVEL_NAMES[] = {
    "DebugAll    ", "DebugMost   ", "DebugLight  ", "LogAll      ",
    "LogMost     ", "LogLight    ", "Warn        ", "Error       ",
};

const char* baseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void openKernelLog() {
    // Appending changes nothing on the kernel's device, but keeps the records of
    // several processes apart where a regular file stands in for it.
    kmsgFd = open("/dev/kmsg", O_WRONLY | O_APPEND | O_CLOEXEC);
    // Names longer than the 20-column field are cut so the prefix stays 22 bytes.
    snprintf(prefix, sizeof prefix, "%20.20s  ", baseName(program_invocation_name));
    pieces[0] = {prefix, 22};
    pieces[3] = {newline, 1};
}

void writeRecord(gen::LogLevel level, const char* file, int line, const char* format, va_list args) {
    // Callers often log a failure and then look at errno themselves.
    int savedErrno = errno;
    if (kmsgFd < 0) openKernelLog();
    int used = snprintf(message, sizeof message, "%20s:%4i ", baseName(file), line);
    if (used >= 0 && static_cast<size_t>(used) < sizeof message)
        vsnprintf(message + used, sizeof message - used, format, args);
    unsigned index = static_cast<unsigned>(level) < 8 ? level : gen::Error;
    pieces[1] = {const_cast<char*>(LEVEL_NAMES[index]), 12};
    pieces[2] = {message, strlen(message)};
    if (writev(kmsgFd, pieces, 4) < 0) fprintf(stderr, "FATAL: Logging: Write failed: %s\n", strerror(errno));
    errno = savedErrno;
}

bool passes(gen::LogLevel* threshold, gen::LogLevel level) {
    return threshold == nullptr || static_cast<int>(level) >= static_cast<int>(*threshold);
}

[[noreturn]] void throwSystemError(const char* file, int line, const char* what, gen::LogLevel level) {
    const char* reason = strerror(errno);
    logMessage(nullptr, level, file, line, "%s: %s", what, reason);
    throw std::runtime_error(message);
}
}  // namespace

void logMessageIntern(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line,
                      const char* format, va_list args) {
    if (passes(threshold, level)) writeRecord(level, file, line, format, args);
}

void logMessage(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line,
                const char* format, ...) {
    if (!passes(threshold, level)) return;
    va_list args;
    va_start(args, format);
    writeRecord(level, file, line, format, args);
    va_end(args);
}

void throwError(const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeRecord(gen::Error, file, line, format, args);
    va_end(args);
    throw std::runtime_error(message);
}

void throwErrorNumber(const char* file, int line, const char* what) {
    throwSystemError(file, line, what, gen::Error);
}

void throwErrorNumberInfo(const char* file, int line, const char* what) {
    throwSystemError(file, line, what, gen::LogLight);
}
