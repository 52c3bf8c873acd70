#pragma once
// One client's subscriptions, changed by the command records it sends:
// Subscribe and Unsubscribe take the record that follows as their target
// (matched by id), SubscribeAll and UnsubscribeAll stand alone.
#include "apps/common/event/notify.h"

#include <unordered_set>

class Subscriptions {
public:
    enum class Command { Awaiting, Subscribe, Unsubscribe, SubscribeAll, UnsubscribeAll };

    // A command, or the target a command is waiting for; anything else is an
    // event to relay.
    bool isCommand(Notify const& record) const;
    Command apply(Notify const& command);
    bool wants(uint32_t id) const { return all || ids.count(id) > 0; }

private:
    bool all = false;
    std::unordered_set<uint32_t> ids;
    // A Subscribe or Unsubscribe whose target has not arrived yet.
    uint32_t awaiting = gen::Invalid;
};
