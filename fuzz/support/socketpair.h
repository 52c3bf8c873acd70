#pragma once
// A connected Unix stream pair: the code under test owns `inner` (and closes
// it), the target plays the peer on `outer`.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzzsupport {

class SocketPair {
public:
    // What the code under test may write before the target reads it.
    static constexpr int OUTPUT_ROOM = 8 << 20;

    SocketPair() {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) < 0) abort();
        inner = ends[0];
        outer = ends[1];
        fcntl(outer, F_SETFL, O_NONBLOCK);
        // Answers are read only after the code under test has written them,
        // so its end gets room for all of them (forced: the targets run as
        // root in scripts/sandbox), and a stuck write times out, not hangs.
        int room = OUTPUT_ROOM;
        setsockopt(inner, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
        timeval limit{1, 0};
        setsockopt(inner, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    ~SocketPair() { closeOuter(); }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void closeOuter() {
        if (outer >= 0) close(outer);
        outer = -1;
    }

    // False when the peer end is gone or the buffer is full.
    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t written = ::send(outer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(written));
        }
        return true;
    }

    // Bytes the code under test has not read yet.
    int unread() const {
        int count = 0;
        return ioctl(inner, FIONREAD, &count) == 0 ? count : 0;
    }

    // Everything the code under test has written so far.
    std::string drain() {
        std::string received;
        char buffer[65536];
        for (;;) {
            ssize_t got = read(outer, buffer, sizeof buffer);
            if (got <= 0) return received;
            received.append(buffer, static_cast<size_t>(got));
        }
    }

    int inner = -1;
    int outer = -1;
};

}  // namespace fuzzsupport
