#include "apps/common/event/notify.h"

#include "apps/common/event/serverconnection.h"
#include "apps/common/log/log.h"

#include <unistd.h>

int readEvents(int fd, Notify* buffer, int max) {
    ssize_t bytes = read(fd, buffer, static_cast<size_t>(max) * sizeof(Notify));
    if (bytes < 0) THROW_ERROR("Read error");
    // Senders write whole records; the bytes of a partial one are dropped.
    return static_cast<int>(bytes / static_cast<ssize_t>(sizeof(Notify)));
}

const char* eventName(Notify notify) {
    // A newer broker or a corrupted record may bring a number beyond our table.
    return notify.id < gen::EVENT_NAME_SIZE ? gen::EVENT_NAME[notify.id] : "Unknown";
}

void postEvent(Notify notify) {
    if (gServerConnection == nullptr) THROW_ERROR("Trying to post event without server connection");
    gServerConnection->postEvent(notify);
}
