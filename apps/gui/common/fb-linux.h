#pragma once
// Access to a Linux framebuffer device: its geometry and its memory, mapped
// into the process. Read-write mode owns the display and flips pages; read-only
// mode only looks at what another process shows.
#include <cstdint>
#include <linux/fb.h>
#include <string>

class FbLinux {
public:
    FbLinux(const std::string& device, int count);
    explicit FbLinux(const std::string& device);
    ~FbLinux();
    FbLinux(const FbLinux&) = delete;
    FbLinux& operator=(const FbLinux&) = delete;

    void init();
    void mapFramebuffer();
    void clear();
    void show();
    void waitVSync();
    unsigned char* backbufferAddress() const;
    unsigned char* frontbufferAddress() const;
    // Where the line shown at the top of the display starts in the mapped
    // memory, as the driver reports it now (it follows any page flipping).
    uint64_t shownOffset();
    unsigned char* currentAddress();

    int bytesPerPixel() const;
    size_t frameSize() const;
    int bufferCount() const { return count; }
    const fb_var_screeninfo& variableInfo() const { return varInfo; }
    const fb_fix_screeninfo& fixedInfo() const { return fixInfo; }
    unsigned char* mappedMemory() const { return memory; }

private:
    void readVariableInfo();
    void pan(unsigned int yoffset);
    void refuseReadOnly() const;
    void logGeometry() const;

    std::string device;
    int fd;
    int count;
    int bufferIndex;
    bool readOnly;
    fb_var_screeninfo varInfo;
    fb_fix_screeninfo fixInfo;
    unsigned char* memory;
};
