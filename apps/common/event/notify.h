#pragma once
// The event record: unit of the broker's wire format and the change event that
// every catalogue variable carries.
#include "gen/code/catalogue_numbers.h"

#include <cstdint>

struct Notify {
    uint32_t id;
    uint32_t flag;   // 0: whole variable, 1: one element of a list
    uint32_t index;  // the element when flag is 1

    bool operator==(Notify const&) const = default;
};
static_assert(sizeof(Notify) == 12, "Notify is the 12-byte wire record");

namespace gen {
extern const char* const EVENT_NAME[EVENT_NAME_SIZE];
}  // namespace gen

// One read of at most max records; a trailing partial record is dropped.
int readEvents(int fd, Notify* buffer, int max);
const char* eventName(Notify notify);
void postEvent(Notify notify);
