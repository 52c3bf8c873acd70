#pragma once
// The two directions of one client's byte stream: incoming bytes are cut into
// whole 12-byte records even when a record arrives split across reads, and
// outgoing records wait in a bounded queue until the socket takes them.
#include "apps/common/event/notify.h"

#include <cstddef>
#include <string>

class RecordAssembler {
public:
    // Room the output of assemble() needs for `size` bytes.
    static constexpr size_t capacityFor(size_t size) { return size / sizeof(Notify) + 1; }

    // Completes the records that `data` finishes into `out`; keeps the bytes of
    // a trailing partial record for the next call. Returns the number written.
    size_t assemble(const char* data, size_t size, Notify* out);

private:
    char partial[sizeof(Notify)] = {};
    size_t partialSize = 0;
};

class OutputQueue {
public:
    enum class Flush { Empty, Pending, Failed };

    explicit OutputQueue(size_t limit) : limit(limit) {}

    // False when the record would take the queue beyond its limit.
    bool push(Notify const& record) {
        if (pending() + sizeof record > limit) return false;
        if (head > 0 && head >= bytes.size() / 2) compact();
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
        return true;
    }
    // Writes what the non-blocking socket takes. Failed: the peer is gone.
    Flush flush(int fd);
    size_t pending() const { return bytes.size() - head; }

private:
    void compact();

    size_t limit;
    std::string bytes;
    size_t head = 0;
};
