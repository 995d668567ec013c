# What `cmake --install build --prefix P` puts under P: the program, its
# manual page and the completions for bash, zsh and fish, each where those
# shells look for them under a prefix.
include(GNUInstallDirs)

if(WIN32)
  # Windows has no shared tree of programs and manuals: the program goes at
  # the top of the prefix, beside the README and the licence.
  install(TARGETS hushmark RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS hushmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/hushmark.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completions/hushmark.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME hushmark)
  install(FILES completions/_hushmark DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
  install(FILES completions/hushmark.fish
          DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endif()

# `cmake --build build --target uninstall` takes back what the last
# `cmake --install build` put in place (see uninstall.cmake).
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
  VERBATIM)
