# Included by every build of the program's sources (the program's own and
# the fuzz targets'), which then add ${CMAKE_CURRENT_BINARY_DIR}/generated to
# their include path.
#
# The POSIX files use a few extras where the system offers them (Linux
# does), each found by a check of what the system declares, never by its
# name; without one a portable route is taken. HUSHMARK_PORTABLE_POSIX makes
# every check answer "absent", so that the portable routes are built and
# tested on a system that has the extras.
option(HUSHMARK_PORTABLE_POSIX "Use only the portable POSIX routes, even where extras exist" OFF)
set(hushmark_posix_extras
  HUSHMARK_HAVE_PIPE2 HUSHMARK_HAVE_COPY_FILE_RANGE HUSHMARK_HAVE_F_SETPIPE_SZ
  HUSHMARK_HAVE_XATTR HUSHMARK_HAVE_INODE_FLAGS HUSHMARK_HAVE_STATX_MOUNT)

# File offsets of 64 bits on every POSIX system, so that a 32-bit one opens,
# sizes and refuses a file of 2 GiB or more as a 64-bit one does, and times
# of 64 bits where the C library offers them (it allows them only with
# 64-bit offsets). Everything built here (the program, the tests and the
# GoogleTest built with them) shares the one layout of off_t and time_t,
# and so do the checks below.
if(NOT WIN32)
  set(hushmark_large_files _FILE_OFFSET_BITS=64)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)
  check_cxx_source_compiles([=[
    #include <sys/types.h>
    #include <time.h>
    static_assert(sizeof(time_t) >= 8);
    int main() { return 0; }]=] HUSHMARK_HAVE_TIME_BITS_64)
  if(HUSHMARK_HAVE_TIME_BITS_64)
    list(APPEND hushmark_large_files _TIME_BITS=64)
  endif()
  add_compile_definitions(${hushmark_large_files})
  list(TRANSFORM hushmark_large_files PREPEND -D OUTPUT_VARIABLE CMAKE_REQUIRED_DEFINITIONS)
endif()

if(WIN32 OR HUSHMARK_PORTABLE_POSIX)
  foreach(extra IN LISTS hushmark_posix_extras)
    set(${extra} 0)
  endforeach()
else()
  include(CheckSymbolExists)
  include(CheckCXXSourceCompiles)
  check_symbol_exists(pipe2 "fcntl.h;unistd.h" HUSHMARK_HAVE_PIPE2)
  check_symbol_exists(F_SETPIPE_SZ "fcntl.h" HUSHMARK_HAVE_F_SETPIPE_SZ)
  # Declared with this signature, not only named: some C libraries have
  # had a different one.
  check_cxx_source_compiles([=[
    #include <sys/types.h>
    #include <unistd.h>
    int main() {
      off_t in = 0;
      ssize_t (*copy)(int, off_t*, int, off_t*, size_t, unsigned) = &copy_file_range;
      return copy(0, &in, 1, nullptr, 0, 0) < 0;
    }]=] HUSHMARK_HAVE_COPY_FILE_RANGE)
  check_cxx_source_compiles([=[
    #include <sys/types.h>
    #include <sys/xattr.h>
    int main() {
      ssize_t (*list)(const char*, char*, size_t) = &listxattr;
      ssize_t (*get)(const char*, const char*, void*, size_t) = &getxattr;
      ssize_t (*fget)(int, const char*, void*, size_t) = &fgetxattr;
      ssize_t (*flist)(int, char*, size_t) = &flistxattr;
      int (*fset)(int, const char*, const void*, size_t, int) = &fsetxattr;
      return list == nullptr || get == nullptr || fget == nullptr || flist == nullptr ||
             fset == nullptr;
    }]=] HUSHMARK_HAVE_XATTR)
  check_cxx_source_compiles([=[
    #include <linux/fs.h>
    #include <sys/ioctl.h>
    int main() {
      int flags = 0;
      return ioctl(0, FS_IOC_GETFLAGS, &flags) + ioctl(0, FS_IOC_SETFLAGS, &flags) +
             (FS_NODUMP_FL | FS_NOATIME_FL | FS_APPEND_FL | FS_IMMUTABLE_FL);
    }]=] HUSHMARK_HAVE_INODE_FLAGS)
  check_cxx_source_compiles([=[
    #include <fcntl.h>
    #include <sys/stat.h>
    int main() {
      struct statx info;
      int got = statx(AT_FDCWD, ".", 0, STATX_MNT_ID, &info);
      return got + static_cast<int>(info.stx_mnt_id);
    }]=] HUSHMARK_HAVE_STATX_MOUNT)
endif()
foreach(extra IN LISTS hushmark_posix_extras)
  if(${extra})
    set(${extra} 1)
  else()
    set(${extra} 0)
  endif()
endforeach()
unset(CMAKE_REQUIRED_DEFINITIONS)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../src/posix_config.h.in
  ${CMAKE_CURRENT_BINARY_DIR}/generated/posix_config.h @ONLY)
