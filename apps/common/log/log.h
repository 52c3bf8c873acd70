#pragma once
// Diagnostics and error raising for every module: one kernel-log record per
// message, filtered by a threshold that lives in shared memory so another
// process can change our verbosity at run time.
#include "gen/code/catalogue_numbers.h"

#include <cstdarg>

// Null until start-up points it at the shared variable AppServiceLogLevel.
extern gen::LogLevel* gComponentLogLevel;

void logMessage(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line,
                const char* format, ...) __attribute__((format(printf, 5, 6)));
void logMessageIntern(gen::LogLevel* threshold, gen::LogLevel level, const char* file, int line,
                      const char* format, va_list args) __attribute__((format(printf, 5, 0)));
[[noreturn]] void throwError(const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
[[noreturn]] void throwErrorNumber(const char* file, int line, const char* what);
[[noreturn]] void throwErrorNumberInfo(const char* file, int line, const char* what);

// The threshold is checked inline, so a message below it costs one comparison:
// no call and no evaluation of its arguments.
inline bool logWanted(gen::LogLevel level) {
    return gComponentLogLevel == nullptr || level >= *gComponentLogLevel;
}
#define LOG(level, ...)                                                                      \
    (logWanted(gen::level) ? logMessage(gComponentLogLevel, gen::level, __FILE__, __LINE__, __VA_ARGS__) \
                           : void())
#define THROW_ERROR(...) throwError(__FILE__, __LINE__, __VA_ARGS__)
#define THROW_ERROR_NUMBER(what) throwErrorNumber(__FILE__, __LINE__, what)
