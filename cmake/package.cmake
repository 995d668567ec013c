# Packages made by `cpack` from the build tree: a Debian package on Linux
# (`cpack -G DEB`), a ZIP of the program and the README on Windows.
set(CPACK_PACKAGE_NAME hushmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The hushmark developers")
# The project's own name for its maintainers, the same on every machine; the
# .invalid domain is reserved and reaches no one. A distribution that ships
# the package names itself with -DHUSHMARK_MAINTAINER="Name <address>".
set(HUSHMARK_MAINTAINER "The hushmark developers <developers@hushmark.invalid>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${HUSHMARK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep local Git clutter out of a repository's shared state")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "hushmark hides untracked local files by adding patterns to the\n"
  "repository's private exclude file (the one Git names for info/exclude),\n"
  "and freezes local changes to tracked files by setting their skip-worktree\n"
  "mark. No committed file is touched. It lists both kinds of local state,\n"
  "never adds a pattern twice, edits the right file in linked worktrees,\n"
  "rewrites the file safely and loses no update between concurrent runs.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Read by cpack itself: the packages' times come from SOURCE_DATE_EPOCH, or
# from the commit that is built.
configure_file(packaging/cpack-project.cmake.in packaging/cpack-project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/cpack-project.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME hushmark-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/zip-in-name-order.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS git)
  set(CPACK_DEBIAN_PACKAGE_SECTION vcs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Debian wants the manual page compressed, and a copyright file and a
  # changelog under /usr/share/doc/hushmark; the staging script adds them.
  set(HUSHMARK_COPYRIGHT_FILE ${PROJECT_SOURCE_DIR}/packaging/copyright)
  set(HUSHMARK_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
  configure_file(packaging/deb-staging.cmake.in packaging/deb-staging.cmake @ONLY)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/packaging/deb-staging.cmake)
endif()

include(CPack)
