#pragma once
// The display as a PNG picture: the buffer shown on "/dev/fb0" encoded with
// libpng straight from the mapped memory into an output stream.
#include "apps/gui/common/fb-linux.h"

#include <ostream>

class ScreenCapture : public FbLinux {
public:
    ScreenCapture();

    // Raises an error when the display cannot be used or its shown buffer
    // cannot be encoded (not 32 bits per pixel, no rows, lines shorter than
    // its width, or not inside the mapping). Nothing is written, so the
    // caller can still answer with an error of its own.
    void checkGeometry();
    void startWrite(std::ostream& out);
    void write(unsigned char* data, unsigned int length);

private:
    const unsigned char* shownBuffer();

    std::ostream* output;
};

std::ostream& operator<<(std::ostream& out, ScreenCapture& capture);
