#pragma once
// A file being uploaded: made without a name in the folder it goes to,
// every write checked and written out to the disk as it arrives, and linked
// into place only when complete. A failed or abandoned upload, or a service
// ended in the middle of one, leaves nothing behind, and the file it would
// have replaced stays as it was. Where the file system cannot make a file
// without a name, it is named `prefix` and a unique ending, a name
// removeLeftovers() takes back at start-up.
#include "apps/web/service/bodyconsumer.h"

#include <string>
#include <sys/types.h>

class UploadFile final : public BodyConsumer {
public:
    explicit UploadFile(std::string prefix);
    ~UploadFile() override;
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    void take(std::string_view bytes) override { write(bytes); }
    // Creates the file unless it exists; false when it could not be created.
    bool open();
    // After the first failure writes are dropped: the upload has failed.
    void write(std::string_view bytes);
    // Puts the complete, synced file in place of `target` and syncs the
    // folder; false, the file removed, when any step since the first write
    // failed.
    bool place(const std::string& target);
    // The file's name while it has one (empty until open, and while unnamed).
    const std::string& path() const { return temporary; }
    // Whether the failure was the file system running full.
    bool outOfSpace() const;
    // Removes the named files under `prefix` that an ended service left.
    static void removeLeftovers(const std::string& prefix);

private:
    bool flush();
    void writeOut();
    bool name();
    void fail();

    std::string prefix;
    std::string temporary;
    int fd = -1;
    int error = 0;
    // Pieces are gathered to whole blocks: a form's file part arrives one
    // line at a time.
    std::string pending;
    // Bytes written, and how many of them the disk has been asked to take.
    off64_t written = 0;
    off64_t writingOut = 0;
};
