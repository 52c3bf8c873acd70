// Lens tables, focus rings and setups: listing a folder and reading, storing
// and deleting single files in it. No request reaches outside the folder.
#include "apps/common/introspection/jsontext.h"
#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/uploadfile.h"
#include "apps/web/service/zelapp.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t COPY_CHUNK = 64 * 1024;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    bool close() {
        int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }

private:
    int fd;
};

// One "/" and one plain component: no further "/", no NUL, not "." or "..".
bool isPlainName(std::string_view name) {
    if (name.size() < 2 || name[0] != '/') return false;
    std::string_view component = name.substr(1);
    return component != "." && component != ".." && component.find('/') == std::string_view::npos &&
           component.find('\0') == std::string_view::npos;
}

void writeOpenError(Request* request) {
    request->output() << "{" << "\"result\": \"Open error\" }\r\n";
}

void sendFile(Request* request, const std::string& path) {
    // Never follow a link out of the folder, and never block on a FIFO.
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat status;
    if (file.get() < 0 || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        writeResult(request->output(), "No such file");
        return;
    }
    request->output();  // the header, which an empty file would otherwise go without
    char chunk[COPY_CHUNK];
    for (ssize_t got; (got = read(file.get(), chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        // Through output() each time, so a large file leaves in pieces.
        request->output().write(chunk, got);
    }
}

// The content was written into the target's folder as it arrived (fileBody)
// and is put in its place only now, whole: a failed write never leaves a
// half-written file, and an old file survives a failed replacement.
void storeFile(Request* request, const std::string& path) {
    auto* upload = dynamic_cast<UploadFile*>(request->consumer.get());
    if (upload == nullptr || !upload->open()) {
        writeOpenError(request);
        return;
    }
    if (!upload->place(path)) {
        writeResult(request->output(), upload->outOfSpace() ? "Not enough space for the file" : "Write error");
        return;
    }
    writeResult(request->output(), "Success");
}
}  // namespace

std::unique_ptr<BodyConsumer> ZelApp::fileBody(const char* folder, const std::string& name) {
    if (!isPlainName(name)) return std::make_unique<DiscardedBody>();
    if (mkdir(folder, 0777) != 0 && errno != EEXIST) LOG(Warn, "Could not create directory %s", folder);
    return std::make_unique<UploadFile>(std::string(folder) + FILE_UPLOAD_NAME);
}

void ZelApp::fileOperation(Request* request, const char* folder, const std::string& name) {
    // The route table gives this route GET, PUT and DELETE only.
    std::string method = request->params["REQUEST_METHOD"];
    if (!isPlainName(name)) {
        // Answered as a file that cannot be reached, and nothing is touched.
        LOG(Warn, "ZelApp: refused file name \"%s\"", loggable(name).c_str());
        if (method == "PUT")
            writeOpenError(request);
        else
            writeResult(request->output(), "No such file");
        return;
    }
    std::string path = folder + name;
    if (method == "GET")
        sendFile(request, path);
    else if (method == "PUT")
        storeFile(request, path);
    else
        writeResult(request->output(), unlink(path.c_str()) == 0 ? "Success" : "No such file");
}

void ZelApp::listOperation(Request* request, const char* folder) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) {
        request->output() << "[]";
        return;
    }
    std::ostream& out = request->output();
    out << "[";
    bool first = true;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_type != DT_REG || std::string_view(entry->d_name).starts_with(FILE_UPLOAD_NAME)) continue;
        if (!first) out << ",";
        first = false;
        out << "\r\n\"" << jsontext::backslashEscaped(entry->d_name) << "\"";
    }
    out << "\r\n]";
    closedir(directory);
}
