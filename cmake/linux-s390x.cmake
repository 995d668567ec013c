# Cross-builds hushmark for big-endian 64-bit IBM Z (s390x) with Debian's
# g++-s390x-linux-gnu.
# Its programs run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(HUSHMARK_CROSS_TRIPLE s390x-linux-gnu)
set(HUSHMARK_CROSS_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
