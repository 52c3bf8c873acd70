#include "tools/broker/subscriptions.h"

Subscriptions::Command Subscriptions::apply(Notify const& record) {
    if (awaiting == gen::Subscribe) {
        awaiting = gen::Invalid;
        set(record.id, true);
        return Command::Subscribe;
    }
    if (awaiting == gen::Unsubscribe) {
        awaiting = gen::Invalid;
        set(record.id, false);
        return Command::Unsubscribe;
    }
    switch (record.id) {
    case gen::Subscribe:
    case gen::Unsubscribe:
        awaiting = record.id;
        return Command::Awaiting;
    case gen::SubscribeAll:
        all = true;
        return Command::SubscribeAll;
    default:  // UnsubscribeAll, the one command left
        all = false;
        known.reset();
        unknown.clear();
        return Command::UnsubscribeAll;
    }
}

void Subscriptions::set(uint32_t id, bool subscribed) {
    if (id < gen::EVENT_NAME_SIZE)
        known.set(id, subscribed);
    else if (subscribed)
        unknown.insert(id);
    else
        unknown.erase(id);
}
