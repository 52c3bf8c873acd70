#include "apps/web/service/uploadfile.h"

#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t WRITE_SIZE = 256 * 1024;

mode_t creationMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}
}  // namespace

UploadFile::UploadFile(std::string prefix) : prefix(std::move(prefix)) {}

UploadFile::~UploadFile() {
    if (fd >= 0) ::close(fd);
    if (!temporary.empty()) unlink(temporary.c_str());
}

bool UploadFile::open() {
    if (!temporary.empty() || error != 0) return !temporary.empty();
    std::string name = prefix + "XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        fail();
        return false;
    }
    temporary = std::move(name);
    // Stored like any file the service writes, not private as mkostemp makes it.
    if (fchmod(fd, creationMode()) != 0) fail();
    return true;
}

void UploadFile::write(std::string_view bytes) {
    if (!open() || error != 0) return;
    pending.append(bytes);
    if (pending.size() >= WRITE_SIZE) flush();
}

bool UploadFile::flush() {
    for (std::string_view rest = pending; !rest.empty() && error == 0;) {
        ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            fail();
        } else {
            rest.remove_prefix(static_cast<size_t>(written));
        }
    }
    pending.clear();
    return error == 0;
}

bool UploadFile::place(const std::string& target) {
    bool complete = open() && error == 0 && flush() && fsync(fd) == 0;
    if (fd >= 0 && ::close(fd) != 0) complete = false;
    fd = -1;
    if (complete && rename(temporary.c_str(), target.c_str()) == 0) {
        temporary.clear();
        return true;
    }
    if (error == 0) error = errno;
    LOG(Warn, "Could not store %s: %s", loggable(target).c_str(), strerror(error));
    return false;
}

bool UploadFile::outOfSpace() const {
    return error == ENOSPC || error == EDQUOT;
}

// The rest of the upload is dropped and its memory released at once.
void UploadFile::fail() {
    if (error == 0) error = errno;
    std::string().swap(pending);
}
