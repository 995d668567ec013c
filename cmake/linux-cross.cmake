# Shared by the toolchain files of the Linux architectures that Debian's
# cross compilers build for (linux-<architecture>.cmake): each names its GNU
# triple, its processor and, where the machine cannot run its programs
# itself, the qemu-user emulator that runs them.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${HUSHMARK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${HUSHMARK_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${HUSHMARK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the test programs through the emulator; the programs they start
# in turn (the program under test) are run by the kernel through
# binfmt_misc, which must name the same emulator.
if(HUSHMARK_CROSS_EMULATOR)
  find_program(HUSHMARK_QEMU ${HUSHMARK_CROSS_EMULATOR} NO_CMAKE_FIND_ROOT_PATH)
  if(HUSHMARK_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${HUSHMARK_QEMU})
  endif()
endif()
