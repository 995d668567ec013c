# Cross-builds hushmark for 32-bit x86 (i386) with Debian's g++-i686-linux-gnu.
# The x86-64 kernel runs its programs itself.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HUSHMARK_CROSS_TRIPLE i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
