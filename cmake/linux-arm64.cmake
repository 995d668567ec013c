# Cross-builds hushmark for 64-bit ARM (arm64) with Debian's
# g++-aarch64-linux-gnu.
# Its programs run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(HUSHMARK_CROSS_TRIPLE aarch64-linux-gnu)
set(HUSHMARK_CROSS_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
