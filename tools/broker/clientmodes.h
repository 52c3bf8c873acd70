#pragma once
// The broker binary's client side, for people and tests: post events to a
// running broker, or print the events it relays.
#include "apps/common/event/notify.h"

#include <vector>

// Posts every event, then closes. Returns the exit code.
int sendEvents(std::vector<Notify> const& events);
// Subscribes to the given events (all when empty) and prints one line per
// event received until a termination signal (exit code 0) or until the
// broker closes the connection (1).
int watchEvents(std::vector<Notify> const& events);
