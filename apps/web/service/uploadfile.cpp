#include "apps/web/service/uploadfile.h"

#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Uploads reach 4 GB, also on the device's 32-bit processor.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

namespace {
constexpr size_t WRITE_SIZE = 256 * 1024;
// Every this many bytes the disk is asked to take what arrived, so that the
// final sync has at most about twice this much left to write.
constexpr off_t WRITE_OUT_SIZE = 4 * 1024 * 1024;
constexpr int NAMING_ATTEMPTS = 100;

mode_t creationMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string folderOf(const std::string& prefix) {
    return prefix.substr(0, prefix.rfind('/') + 1);
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) LOG(Warn, "Could not sync %s: %s", folder.c_str(), strerror(errno));
    if (fd >= 0) ::close(fd);
}
}  // namespace

UploadFile::UploadFile(std::string prefix) : prefix(std::move(prefix)) {}

UploadFile::~UploadFile() {
    if (fd >= 0) ::close(fd);
    if (!temporary.empty()) unlink(temporary.c_str());
}

bool UploadFile::open() {
    if (fd >= 0 || error != 0) return fd >= 0;
    fd = ::open(folderOf(prefix).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    // A file system (or kernel) that makes no unnamed files: a named one.
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        std::string name = prefix + "XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) temporary = std::move(name);
        // Stored like any file the service writes, not private as mkostemp makes it.
        if (fd >= 0 && fchmod(fd, creationMode()) != 0) fail();
    }
    if (fd < 0) fail();
    return fd >= 0;
}

void UploadFile::write(std::string_view bytes) {
    if (!open() || error != 0) return;
    pending.append(bytes);
    if (pending.size() >= WRITE_SIZE && flush()) writeOut();
}

bool UploadFile::flush() {
    for (std::string_view rest = pending; !rest.empty() && error == 0;) {
        ssize_t count = ::write(fd, rest.data(), rest.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            if (count == 0) errno = ENOSPC;
            fail();
        } else {
            rest.remove_prefix(static_cast<size_t>(count));
            written += count;
        }
    }
    pending.clear();
    return error == 0;
}

// The disk starts on what arrived since the last call, and what it was given
// then is waited for and dropped from memory: a client faster than the disk
// is slowed to its pace instead of filling memory with unwritten pages.
// Failures here show again in the final sync, which fails the upload.
void UploadFile::writeOut() {
    if (written - writingOut < WRITE_OUT_SIZE) return;
    sync_file_range(fd, writingOut, written - writingOut, SYNC_FILE_RANGE_WRITE);
    if (writingOut > 0) {
        sync_file_range(fd, 0, writingOut,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(fd, 0, writingOut, POSIX_FADV_DONTNEED);
    }
    writingOut = written;
}

// An unnamed file gets a name beside the target, which the rename then
// moves over it: linking to the target itself would not replace it.
bool UploadFile::name() {
    if (!temporary.empty()) return true;
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < NAMING_ATTEMPTS; ++attempt) {
        std::string name = prefix + std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary = std::move(name);
            return true;
        }
        if (errno != EEXIST) break;
    }
    fail();
    return false;
}

bool UploadFile::place(const std::string& target) {
    bool complete = open() && error == 0 && flush() && fsync(fd) == 0 && name();
    if (fd >= 0 && ::close(fd) != 0) complete = false;
    fd = -1;
    if (complete && rename(temporary.c_str(), target.c_str()) == 0) {
        temporary.clear();
        // The new name itself must survive a power cut.
        syncFolder(folderOf(target));
        return true;
    }
    if (error == 0) error = errno;
    LOG(Warn, "Could not store %s: %s", loggable(target).c_str(), strerror(error));
    return false;
}

bool UploadFile::outOfSpace() const {
    return error == ENOSPC || error == EDQUOT;
}

void UploadFile::removeLeftovers(const std::string& prefix) {
    std::string folder = folderOf(prefix);
    std::string_view start = std::string_view(prefix).substr(folder.size());
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return;
    while (const dirent* entry = readdir(directory)) {
        if (!std::string_view(entry->d_name).starts_with(start)) continue;
        if (unlinkat(dirfd(directory), entry->d_name, 0) == 0)
            LOG(LogLight, "Removed %s%s, left by an upload that never ended", folder.c_str(), entry->d_name);
    }
    closedir(directory);
}

// The rest of the upload is dropped and its memory released at once.
void UploadFile::fail() {
    if (error == 0) error = errno;
    std::string().swap(pending);
}
