#include "tools/broker/recordstream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace {
// A Unix stream write of up to about 32 KiB becomes one kernel buffer that the
// reader sees whole or not at all. Keeping every write a multiple of 12 bytes
// and below that size means a client's read never ends inside a record, which
// matters because clients drop partial records instead of keeping them.
constexpr size_t WRITE_CHUNK = 1365 * sizeof(Notify);
}  // namespace

size_t RecordAssembler::assemble(const char* data, size_t size, Notify* out) {
    size_t count = 0;
    if (partialSize > 0) {
        size_t missing = std::min(sizeof(Notify) - partialSize, size);
        memcpy(partial + partialSize, data, missing);
        partialSize += missing;
        data += missing;
        size -= missing;
        if (partialSize < sizeof(Notify)) return 0;
        memcpy(&out[count++], partial, sizeof(Notify));
        partialSize = 0;
    }
    size_t whole = size / sizeof(Notify);
    memcpy(out + count, data, whole * sizeof(Notify));
    count += whole;
    partialSize = size - whole * sizeof(Notify);
    memcpy(partial, data + whole * sizeof(Notify), partialSize);
    return count;
}

void OutputQueue::compact() {
    bytes.erase(0, head);
    head = 0;
}

OutputQueue::Flush OutputQueue::flush(int fd) {
    while (pending() > 0) {
        ssize_t written = send(fd, bytes.data() + head, std::min(pending(), WRITE_CHUNK), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? Flush::Pending : Flush::Failed;
        }
        head += static_cast<size_t>(written);
    }
    bytes.clear();
    head = 0;
    return Flush::Empty;
}
