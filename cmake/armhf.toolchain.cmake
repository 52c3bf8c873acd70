# The device's CPU: 32-bit ARM with hard float, built with Debian's cross
# compiler against the armhf libraries installed next to the machine's own
# (multiarch). Programs built so run here under user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# Libraries and package configurations are looked up in the armhf folders
# (/usr/lib/arm-linux-gnueabihf), never in the machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# The C library's defaults are a 32-bit time_t, which ends in 2038 within the
# device's service life, and a 32-bit off_t.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
# The armhf C library's loader (/lib/ld-linux-armhf.so.3) and C++ runtime come
# from the multiarch packages, so the emulator needs no sysroot of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)
