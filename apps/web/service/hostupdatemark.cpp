#include "apps/web/service/hostupdatemark.h"

#include "apps/common/log/log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

HostUpdateMark::HostUpdateMark(std::string path)
    : path(std::move(path)), marked(access(this->path.c_str(), F_OK) == 0) {}

// A mark that cannot be kept still holds until the service ends.
void HostUpdateMark::set(bool value) {
    marked = value;
    bool kept = true;
    if (value) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        kept = fd >= 0 && close(fd) == 0;
    } else {
        kept = unlink(path.c_str()) == 0 || errno == ENOENT;
    }
    if (!kept) LOG(Warn, "Could not keep the host update mark %s: %s", path.c_str(), strerror(errno));
}
