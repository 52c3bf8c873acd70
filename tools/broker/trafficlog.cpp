#include "tools/broker/trafficlog.h"

#include "tools/broker/eventtext.h"

void TrafficLog::connected(int client) {
    if (out) fprintf(out, "client %i connected\n", client);
}

void TrafficLog::command(int client, Subscriptions::Command command, Notify const& target) {
    if (!out) return;
    using Command = Subscriptions::Command;
    switch (command) {
    case Command::Subscribe:
    case Command::Unsubscribe:
        fprintf(out, "client %i %s ", client, command == Command::Subscribe ? "subscribe" : "unsubscribe");
        printEvent(out, target);
        fputc('\n', out);
        break;
    case Command::SubscribeAll:
        fprintf(out, "client %i subscribe all\n", client);
        break;
    case Command::UnsubscribeAll:
        fprintf(out, "client %i unsubscribe all\n", client);
        break;
    default:
        break;
    }
}

void TrafficLog::relayed(Notify const& event, int from, int receivers) {
    if (!out) return;
    fputs("event ", out);
    printEvent(out, event);
    if (from > 0)
        fprintf(out, " from client %i to %i\n", from, receivers);
    else
        fprintf(out, " from input to %i\n", receivers);
}

void TrafficLog::left(int client, const char* reason) {
    if (out) fprintf(out, "client %i %s\n", client, reason);
}

void TrafficLog::flush() {
    if (out) fflush(out);
}
