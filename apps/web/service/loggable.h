#pragma once
// Text a client sent (script names, header values, file names), made fit for
// the kernel log: cut to a sane length and printable ASCII only, so that one
// request can neither flood the log nor forge a line of its own.
#include <string>
#include <string_view>

std::string loggable(std::string_view text);
