#pragma once
// Millions of inputs would fill the kernel-log stand-in, so the fuzz targets
// log nothing: the threshold sits above the highest level.
#include "apps/common/log/log.h"

namespace fuzzsupport {
inline gen::LogLevel silent = static_cast<gen::LogLevel>(gen::Error + 1);
inline const bool quieted = (gComponentLogLevel = &silent, true);
}  // namespace fuzzsupport
