#pragma once
// Output readiness on top of EventPoll, which reports readable data only: a
// second epoll set holds the sockets that have output waiting, and the set's
// own descriptor turns readable whenever one of them can take more.
#include "apps/common/event/eventpoll.h"

class WritableWatch : public EventPoll::Callback {
public:
    class Writer {
    public:
        virtual void writable() = 0;

    protected:
        ~Writer() = default;
    };

    explicit WritableWatch(EventPoll& poll);
    ~WritableWatch();
    WritableWatch(const WritableWatch&) = delete;
    WritableWatch& operator=(const WritableWatch&) = delete;

    void watch(int fd, Writer* writer);
    void unwatch(int fd);
    void event(EventType type) override;

private:
    EventPoll& poll;
    int epollFd;
};
