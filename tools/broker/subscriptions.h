#pragma once
// One client's subscriptions, changed by the command records it sends:
// Subscribe and Unsubscribe take the record that follows as their target
// (matched by id), SubscribeAll and UnsubscribeAll stand alone.
#include "apps/common/event/notify.h"

#include <bitset>
#include <unordered_set>

class Subscriptions {
public:
    enum class Command { Awaiting, Subscribe, Unsubscribe, SubscribeAll, UnsubscribeAll };

    // A command, or the target a command is waiting for; anything else is an
    // event to relay.
    bool isCommand(Notify const& record) const {
        return awaiting != gen::Invalid || (record.id >= gen::Subscribe && record.id <= gen::UnsubscribeAll);
    }
    Command apply(Notify const& command);
    // Nobody wants "no event": only a broken sender sends it.
    bool wants(uint32_t id) const {
        if (id == gen::Invalid) return false;
        return all || (id < gen::EVENT_NAME_SIZE ? known.test(id) : unknown.count(id) > 0);
    }

private:
    void set(uint32_t id, bool subscribed);

    bool all = false;
    // Every relayed event is looked up here, so the numbers of the table get a
    // bit each; numbers beyond it are rare enough for a set.
    std::bitset<gen::EVENT_NAME_SIZE> known;
    std::unordered_set<uint32_t> unknown;
    // A Subscribe or Unsubscribe whose target has not arrived yet.
    uint32_t awaiting = gen::Invalid;
};
