#include "tools/broker/writablewatch.h"

#include "apps/common/log/log.h"

#include <unistd.h>

WritableWatch::WritableWatch(EventPoll& poll) : poll(poll), epollFd(epoll_create1(EPOLL_CLOEXEC)) {
    if (epollFd < 0) THROW_ERROR_NUMBER("epoll_create1");
    poll.add(epollFd, this, EPOLLIN);
}

WritableWatch::~WritableWatch() {
    poll.remove(epollFd);
    close(epollFd);
}

void WritableWatch::watch(int fd, Writer* writer) {
    epoll_event registration{};
    registration.events = EPOLLOUT;
    registration.data.ptr = writer;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &registration) < 0) THROW_ERROR_NUMBER("epoll_ctl");
}

void WritableWatch::unwatch(int fd) {
    if (epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr) < 0) THROW_ERROR_NUMBER("epoll_ctl");
}

void WritableWatch::event(EventType type) {
    if (type != Readable) return;
    epoll_event ready[64];
    int count = epoll_wait(epollFd, ready, 64, 0);
    // A writer may close while others are served; the broker deletes closed
    // clients only between passes, so the pointers stay valid.
    for (int i = 0; i < count; ++i) static_cast<Writer*>(ready[i].data.ptr)->writable();
}
