# Two builds of the same commit give the same bytes, wherever the tree and
# the build directory lie and whenever they are made. The compiler writes
# paths relative to the source and build directories (into __FILE__ and
# debug information); the Windows linker writes no time stamp into the PE
# header; and the Linux program loses the .comment section, the list of
# compiler versions that every object file adds, which the program never
# reads. The packages take their times from the commit: see
# packaging/cpack-project.cmake.in.
if(MSVC)
  return()
endif()

foreach(target IN ITEMS hushmark_core hushmark)
  # The build directory comes second: the compiler tries the maps last to
  # first, and it may lie inside the source directory.
  target_compile_options(${target} PRIVATE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/="
                                           "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
endforeach()

if(WIN32)
  target_link_options(hushmark PRIVATE -Wl,--no-insert-timestamp)
elseif(CMAKE_OBJCOPY)
  add_custom_command(TARGET hushmark POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:hushmark>
                     VERBATIM)
endif()
