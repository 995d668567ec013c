# Cross-builds hushmark.exe for 64-bit Windows with MinGW-w64 on Linux.
# The -posix thread model is needed: the -win32 one lacks std::recursive_mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HUSHMARK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HUSHMARK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HUSHMARK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HUSHMARK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HUSHMARK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program stands alone: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine runs the built programs, so that ctest can run the Windows tests here.
# Debian installs wine64 and wineserver in Wine's library directory.
find_program(HUSHMARK_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(HUSHMARK_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH)
if(HUSHMARK_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HUSHMARK_WINE64})
endif()
