#pragma once
// A file being uploaded: written under a temporary name beside the place it
// goes, every write checked, and renamed into place only when complete. One
// that is not placed is removed, so a failed or abandoned upload leaves
// nothing behind and the file it would have replaced stays as it was.
#include "apps/web/service/bodyconsumer.h"

#include <string>

class UploadFile final : public BodyConsumer {
public:
    // The file, created at the first need, is `prefix` and six unique characters.
    explicit UploadFile(std::string prefix);
    ~UploadFile() override;
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    void take(std::string_view bytes) override { write(bytes); }
    // Creates the file unless it exists; false when it could not be created.
    bool open();
    // After the first failure writes are dropped: the upload has failed.
    void write(std::string_view bytes);
    // Renames the complete, synced file over `target`; false, the file
    // removed, when any step since the first write failed.
    bool place(const std::string& target);
    // Where the content is written while it arrives (empty until open).
    const std::string& path() const { return temporary; }
    // Whether the failure was the file system running full.
    bool outOfSpace() const;

private:
    bool flush();
    void fail();

    std::string prefix;
    std::string temporary;
    int fd = -1;
    int error = 0;
    // Pieces are gathered to whole blocks: a form's file part arrives one
    // line at a time.
    std::string pending;
};
