#include "tools/broker/subscriptions.h"

bool Subscriptions::isCommand(Notify const& record) const {
    return awaiting != gen::Invalid || (record.id >= gen::Subscribe && record.id <= gen::UnsubscribeAll);
}

Subscriptions::Command Subscriptions::apply(Notify const& record) {
    if (awaiting == gen::Subscribe) {
        awaiting = gen::Invalid;
        ids.insert(record.id);
        return Command::Subscribe;
    }
    if (awaiting == gen::Unsubscribe) {
        awaiting = gen::Invalid;
        ids.erase(record.id);
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
        ids.clear();
        return Command::UnsubscribeAll;
    }
}
