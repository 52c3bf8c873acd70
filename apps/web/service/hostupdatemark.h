#pragma once
// Whether the update last uploaded was the device's own, so that the status
// route reports the host's update variables rather than the accessory's.
// Kept as a file beside the update files: a service restarted in the middle
// of a host update goes on reporting it.
#include <string>

class HostUpdateMark {
public:
    explicit HostUpdateMark(std::string path);

    bool isSet() const { return marked; }
    void set(bool value);

private:
    std::string path;
    bool marked;
};
