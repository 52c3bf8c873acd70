#pragma once
// Events as people type and read them: "918", "918:1:3" or a name from the
// event table such as "VarAppServiceLogLevelChanged".
#include "apps/common/event/notify.h"

#include <cstdio>
#include <optional>
#include <string>

std::optional<Notify> parseEvent(std::string const& text);

// Writes "918:0:0 VarAppServiceLogLevelChanged" (no line end).
void printEvent(FILE* out, Notify notify);
