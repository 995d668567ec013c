# Cross-builds hushmark for 32-bit ARM with hardware floating point
# (armhf) with Debian's g++-arm-linux-gnueabihf.
# Its programs run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(HUSHMARK_CROSS_TRIPLE arm-linux-gnueabihf)
set(HUSHMARK_CROSS_EMULATOR qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
